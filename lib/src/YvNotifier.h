// A notifier: a host's subscription to device changes, with its queue of
// notification messages. The detector fills the queues and delivers them on
// its worker thread; YV_ProcessMessages drains a queue on the host's thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>

#include "YvCom.h"

namespace ylvane {

class CYvLib;
class CYvDetector;

class IYvNotifier : public IUnknown {
 public:
  // Delivers the queued messages on the calling thread; a null callback
  // discards them.
  virtual HRESULT ProcessMessages(YV_NOTIFY_CALLBACK Callback, void* UserData) = 0;
};

class CYvNotifier final : public IYvNotifier {
 public:
  static constexpr uint32_t kPendingSignal = 2;
  static constexpr uint32_t kDefaultSerialInterval = 5000;
  static constexpr uint32_t kDefaultIpInterval = 15000;

  // A message, shared by every queue that holds it and destroyed with the
  // last reference. Payload() is what the host's callback receives.
  class CNMsg {
   public:
    virtual ~CNMsg() = default;
    virtual const void* Payload() const = 0;
    uint32_t m_nKind = 0;
    std::atomic<int32_t> m_nRef{0};
  };

  // The messages of the four kinds; null when a copy of the device data
  // cannot be allocated (the message is then not sent at all).
  static std::unique_ptr<CNMsg> NewExist(bool arrival, const YV_PORT_INFO& info, const void* data,
                                         int32_t size);
  static std::unique_ptr<CNMsg> NewChange(uint32_t changeMask, const YV_PORT_INFO& newInfo,
                                          const void* newData, int32_t newSize,
                                          const YV_PORT_INFO& oldInfo, const void* oldData,
                                          int32_t oldSize);
  static std::unique_ptr<CNMsg> NewError(HRESULT error);
  // Gives back one reference; the last one destroys the message.
  static void DropRef(CNMsg* msg);

  // YV_FindNotification after its checks: a new notifier attached with the
  // settings, handed out with one reference in *Notifier.
  static HRESULT Create(CYvLib& lib, YV_HANDLE* Notifier, const YV_NOTIFY_SETTINGS& Settings);

  HRESULT QueryInterface(const YvIid& iid, void** out) override;
  uint32_t AddRef() override;
  uint32_t Release() override;
  HRESULT ProcessMessages(YV_NOTIFY_CALLBACK Callback, void* UserData) override;

  // Takes every message off the queue, under the library lock.
  void ClearQueue();
  // Whether a message of this kind, for a device of these types, is for us.
  bool TakesPart(uint32_t kind, uint32_t typeMask, bool ip) const;

  // Guarded by the library lock, read by the detector.
  YV_NOTIFY_CALLBACK m_pfnCallback = nullptr;
  void* m_pUser = nullptr;
  uint32_t m_dwFlags = 0;
  uint32_t m_dwSerialMask = 0;
  uint32_t m_dwIpMask = 0;
  uint32_t m_nSerialInterval = kDefaultSerialInterval;
  uint32_t m_nIpInterval = kDefaultIpInterval;
  std::deque<CNMsg*> m_Queue;  // each entry holds one reference
  uint32_t m_dwPending = 0;

 private:
  explicit CYvNotifier(CYvLib& lib) : m_lib(lib) {}
  ~CYvNotifier() override;
  HRESULT Attach(const YV_NOTIFY_SETTINGS& Settings);

  // Gives back one hold; the last one frees the notifier.
  void DropHold();

  std::atomic<int32_t> m_nRef{0};
  // The notifier's memory: one hold while it is referenced, one for each
  // drain under way, so that a drain whose callback closed the notifier can
  // still finish its round. Closed once the last reference is gone: its
  // queue is discarded and a drain delivers nothing more.
  std::atomic<int32_t> m_nHolds{1};
  bool m_bClosed = false;  // under the library lock
  CYvLib& m_lib;
  CYvDetector* m_pDetector = nullptr;
};

}  // namespace ylvane
