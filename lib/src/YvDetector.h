// The device detector: the library's one watcher of devices. It exists while
// a notifier is attached. Its worker thread takes the kernel's USB events,
// runs the periodic rescans and delivers the notifiers' messages; the
// library's own port work pauses its scans.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "YvDetectorLink.h"
#include "YvDeviceMaps.h"
#include "YvNotifier.h"
#include "sys/event/Event.h"

namespace ylvane {

class CYvLib;
class CUsbWatch;

class CYvDetector final : public IYvDetectorLink {
 public:
  static constexpr uint32_t kPendReconfig = 1;
  static constexpr uint32_t kPendReaggregate = 4;
  static constexpr uint32_t kDueSerial = 1;
  static constexpr uint32_t kDueIp = 2;
  static constexpr int kPauseWaitMs = 10000;
  static constexpr int kPausedWakeMs = 1000;

  // Where device events come from.
  enum class DevNotify { None, Kernel, Host };

  // What tests look at.
  struct State {
    uint32_t flags, serialMask, ipMask, serialInterval, ipInterval, curSerialInterval, pending;
    bool serialScan, ipScan;
    DevNotify devNotify;
    size_t notifiers, pauseWaiters;
    uint32_t serialRescans, ipRescans;  // finished ones
    uint32_t mapsValid;
  };

  explicit CYvDetector(CYvLib& lib);

  uint32_t AddRef() override;
  uint32_t Release() override;
  void Pause(DetectorPause& pause) override;
  void Resume(DetectorPause& pause) override;
  void OnDeviceChange(uint32_t EventType, void* EventData) override;

  // With the library lock held: starts the worker on first use, then takes
  // the notifier's flags, masks and intervals into account. The attach is
  // under way until EndAttach; the worker decides on its scans only then.
  HRESULT AddNotifier(CYvNotifier* notifier);
  // Without the lock: the attach that AddNotifier began is over, its
  // source of device events settled (or the attach given up).
  void EndAttach();
  // Without the lock: detaches the notifier, waits for a delivery to it that
  // is under way (unless called from that delivery), and drops its reference.
  void RemoveNotifier(CYvNotifier* notifier);
  // Without the lock: opens or drops the source of device events as the
  // attached notifiers need it. A non-null recipient means that the host
  // forwards the events itself.
  void RegisterUsbNotification(void* recipient);

  // Fan-out of one message to the notifiers that want it; each takes the
  // library lock itself.
  void QueueExist(bool arrival, const YV_PORT_INFO* info, const void* data, int32_t size,
                  uint32_t typeMask, bool ip);
  void QueueChange(uint32_t changeMask, const YV_PORT_INFO* newInfo, const void* newData,
                   int32_t newSize, const YV_PORT_INFO* oldInfo, const void* oldData,
                   int32_t oldSize, uint32_t typeMask, bool ip);
  void QueueError(HRESULT error);

  // The diff of a scan against a map (the network map with ip): the entries
  // the scan covers are marked unseen, every device found is brought up to
  // date (arrival and change messages), and the entries still unseen are
  // removed (removal messages). Each takes the library lock itself. A map
  // that no finished sweep has filled yet is emptied by MarkAllUnseen and
  // reports nothing until a sweep over all ports (whole) has made it valid.
  void MarkAllUnseen(const YV_PORT_ID* ports, int32_t count, bool ip);
  // outData, when given, receives a copy of the entry's device data (empty
  // when it has none).
  void UpdateDevice(const void* devData, std::vector<uint8_t>* outData, const YV_PORT_INFO* info,
                    bool ip);
  void SweepUnseen(bool ip, bool whole = true);
  // The devices of a map whose types share a bit with typeMask, in map
  // order or, with a port list, in list order; copies taken under the lock.
  std::vector<MapDevice> ListFromMap(uint32_t typeMask, const YV_PORT_ID* ports, int32_t count,
                                     bool ip, bool firstOnly);

  // The callbacks of the rescans, whose user data is a RescanContext: each
  // device found goes into the map, and the scan goes on while the
  // detector runs.
  struct RescanContext {
    CYvDetector* detector;
    std::exception_ptr failure;  // ends the scan; raised again once it has returned
    YV_BOOL Update(const void* devData, const YV_PORT_INFO* info, bool ip);
  };
  static YV_BOOL YV_CALL OnSerialPortListed(const YV_PORT_INFO* Info, void* UserData);
  static YV_BOOL YV_CALL OnSerialDeviceProbed(const void* DevData, const YV_PORT_INFO* Info,
                                              void* UserData);
  static YV_BOOL YV_CALL OnIpDeviceScanned(const void* DevData, const YV_PORT_INFO* Info,
                                           void* UserData);
  // After each broadcast of a network rescan: TRUE (no more broadcasts)
  // once every known network device has answered again.
  static YV_BOOL YV_CALL AllIpDevicesSeen(const void* DevData, const YV_PORT_INFO* Info,
                                          void* UserData);

  State GetState();

 private:
  friend class CYvNotifier;  // destroys a detector that never started
  using Clock = std::chrono::steady_clock;
  ~CYvDetector() override;

  HRESULT Start();
  // Stops the worker; false when called on the worker itself, which then
  // ends by itself and destroys the detector on its way out.
  bool Stop();
  bool OnWorker() const { return std::this_thread::get_id() == m_workerId; }
  void Run();
  void ThreadLoop();
  void ApplyPending();
  void RescanSerialDevices();
  void RescanIpDevices();
  // The size of a data block of the device type in the block's first word;
  // nothing when no such type is registered.
  std::optional<int32_t> DevDataSizeOf(const void* devData, bool ip) const;
  void DeliverMessages();
  // A failure in the worker's loop: an error message, a short pause, on.
  void OnLoopFailure(HRESULT error);
  void Fanout(uint32_t kind, uint32_t typeMask, bool ip,
              const std::function<std::unique_ptr<CYvNotifier::CNMsg>()>& build);
  void SetDelivering(CYvNotifier* notifier);
  void WaitNotDelivering(CYvNotifier* notifier);
  void RememberDescription(const std::u16string& serial, uint16_t pid, const std::u16string& desc);

  CYvLib& m_lib;
  void* m_hRecipient = nullptr;
  std::atomic<uint32_t> m_nRef{0};
  std::atomic<bool> m_bRunning{false};
  std::thread m_hThread;
  std::thread::id m_workerId;
  // Set only on the worker, by a stop from inside a host callback.
  bool m_bOrphaned = false;
  std::optional<sys::Event> m_hWakeEvent;
  std::optional<sys::Event> m_hPauseEvent;
  uint32_t m_dwPending = 0;
  // Attaches under way (AddNotifier to EndAttach). Their notifiers count in
  // the flags already, but not yet their source of device events: one whose
  // host forwards the events would pass for one that nobody tells of
  // devices, and have the ports rescanned.
  uint32_t m_nAttaching = 0;
  std::vector<std::unique_ptr<sys::Event>> m_PauseWaiters;
  uint32_t m_dwDue = 0;
  uint32_t m_dwFlags = 0;
  uint32_t m_nSerialInterval = CYvNotifier::kDefaultSerialInterval;
  uint32_t m_nIpInterval = CYvNotifier::kDefaultIpInterval;
  uint32_t m_dwSerialMask = 0;
  uint32_t m_dwIpMask = 0;
  bool m_bIpScan = false;
  bool m_bSerialScan = false;
  uint32_t m_nCurSerialInterval = 0;
  std::atomic<bool> m_bDeliver{false};
  DevNotify m_DevNotify = DevNotify::None;
  DeviceMap m_SerialMap;
  DeviceMap m_IpMap;
  uint32_t m_dwMapsValid = 0;  // 1: the serial map, 2: the network map reflects a finished sweep
  std::vector<CYvNotifier*> m_Notifiers;  // in order of attachment; no references held

  // The kernel's USB events while they are the source; replaced ones are
  // freed by the worker, which may still be polling them.
  std::unique_ptr<CUsbWatch> m_pUsbWatch;
  std::vector<std::unique_ptr<CUsbWatch>> m_RetiredWatches;
  // Bus descriptions of the FTDI devices seen, by serial number and product
  // id: a removed device's description can no longer be read.
  std::map<std::pair<std::u16string, uint16_t>, std::u16string> m_Descriptions;

  // The notifier whose callback the worker is running, if any.
  std::mutex m_deliveryLock;
  std::condition_variable m_deliveryDone;
  CYvNotifier* m_pDelivering = nullptr;

  uint32_t m_nSerialRescans = 0;
  uint32_t m_nIpRescans = 0;
};

}  // namespace ylvane
