// The one library object of a process: device-type tables, the list of open
// objects, the library lock, and the operations behind the library-level
// exports.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "YvCom.h"

namespace ylvane {

// Scoped holder of the library lock (a recursive mutex: the library
// re-enters it from callbacks and nested operations).
class CCritLock {
 public:
  explicit CCritLock(std::recursive_mutex& m) : m_m(m) { m_m.lock(); }
  ~CCritLock() { m_m.unlock(); }
  CCritLock(const CCritLock&) = delete;
  CCritLock& operator=(const CCritLock&) = delete;

 private:
  std::recursive_mutex& m_m;
};

// A registered serial device type, copied from the host's descriptor.
struct SerialTypeSlot {
  std::vector<uint8_t> pReqData;  // empty = no request
  int32_t nReqSize = 0;
  YV_DEVTYPE_CALLBACK pfnCallback = nullptr;
  int32_t nReplySize = 0;
  uint32_t dwBaud = 0;
  uint8_t bStopBits = 0;
  char chEvChar = 0;
  std::u16string sName;  // description filter; empty = any description
  std::vector<uint16_t> vPids;  // in the order the host gave them

  // A type is probed only with both a request and a callback: registering
  // again without a callback keeps the old request but must never lead to
  // a call through a null callback.
  bool CanProbe() const { return nReqSize > 0 && pfnCallback != nullptr; }
};

// A registered network device type.
struct IpTypeSlot {
  std::vector<uint8_t> pReqData;
  int32_t nReqSize = 0;
  YV_DEVTYPE_CALLBACK pfnCallback = nullptr;
  int32_t nReplySize = 0;
  uint16_t wUdpPort = 0;
};

constexpr int kTypeSlots = 32;

class IYvDll : public IUnknown {
 public:
  virtual HRESULT EnumSerialPorts(uint32_t TypeMask, YV_ENUM_PORTS_CALLBACK Callback,
                                  void* UserData) = 0;
  virtual HRESULT FindNotification(YV_HANDLE* Notifier, const YV_NOTIFY_SETTINGS* Settings) = 0;
  virtual HRESULT DeviceEventNotify(uint32_t EventType, void* EventData) = 0;
  virtual HRESULT Open(YV_HANDLE* Port, const char16_t* Name, int32_t PortType, uint32_t BaudRate,
                       char EvChar, uint8_t StopBits) = 0;
  virtual HRESULT EnumSerialDevices(uint32_t TypeMask, const YV_PORT_ID* Ports, int32_t PortCount,
                                    YV_ENUM_DEVICES_CALLBACK Callback, void* UserData,
                                    const YV_SCAN_PARAMS* Params, YV_BOOL Rescan) = 0;
  virtual HRESULT FindSerialDevice(uint32_t TypeMask, const YV_PORT_ID* Ports, int32_t PortCount,
                                   void* DevData, int32_t DevDataSize, YV_PORT_INFO* Info,
                                   const YV_SCAN_PARAMS* Params, YV_BOOL Rescan) = 0;
  virtual HRESULT EnumIpDevices(uint32_t TypeMask, YV_ENUM_DEVICES_CALLBACK Callback,
                                void* UserData, const YV_SCAN_PARAMS* Params,
                                YV_BOOL Rescan) = 0;
  virtual HRESULT RegSerialDevice(const YV_SERIAL_DEVICE_TYPE* Type) = 0;
  virtual HRESULT RegIpDevice(const YV_IP_DEVICE_TYPE* Type) = 0;
};

class CYvLib final : public IYvDll {
 public:
  // YV_Initialize: creates and starts the object, or counts the existing one.
  static HRESULT Initialize(uint32_t Flags);
  // YV_Finalyze: gives back one of the host's YV_Initialize references; one
  // beyond them (while a running call still holds the object) does nothing.
  static void Finalyze();
  // The live object with one reference taken for the caller (give it back
  // with Release), or null. Every export that works on the object holds
  // such a reference, so a YV_Finalyze on another thread cannot destroy the
  // object under a running call. Threads of the library itself never call
  // this: the object outlives them.
  static CYvLib* Acquire();
  // Takes obj off the live object's list, if there is a live object.
  static void RemoveFromCurrent(IUnknown* obj);

  HRESULT QueryInterface(const YvIid& iid, void** out) override;
  uint32_t AddRef() override;
  uint32_t Release() override;

  HRESULT EnumSerialPorts(uint32_t TypeMask, YV_ENUM_PORTS_CALLBACK Callback,
                          void* UserData) override;
  HRESULT FindNotification(YV_HANDLE* Notifier, const YV_NOTIFY_SETTINGS* Settings) override;
  HRESULT DeviceEventNotify(uint32_t EventType, void* EventData) override;
  HRESULT Open(YV_HANDLE* Port, const char16_t* Name, int32_t PortType, uint32_t BaudRate,
               char EvChar, uint8_t StopBits) override;
  HRESULT EnumSerialDevices(uint32_t TypeMask, const YV_PORT_ID* Ports, int32_t PortCount,
                            YV_ENUM_DEVICES_CALLBACK Callback, void* UserData,
                            const YV_SCAN_PARAMS* Params, YV_BOOL Rescan) override;
  HRESULT FindSerialDevice(uint32_t TypeMask, const YV_PORT_ID* Ports, int32_t PortCount,
                           void* DevData, int32_t DevDataSize, YV_PORT_INFO* Info,
                           const YV_SCAN_PARAMS* Params, YV_BOOL Rescan) override;
  HRESULT EnumIpDevices(uint32_t TypeMask, YV_ENUM_DEVICES_CALLBACK Callback, void* UserData,
                        const YV_SCAN_PARAMS* Params, YV_BOOL Rescan) override;
  HRESULT RegSerialDevice(const YV_SERIAL_DEVICE_TYPE* Type) override;
  HRESULT RegIpDevice(const YV_IP_DEVICE_TYPE* Type) override;

  void AddObject(IUnknown* obj);
  void RemoveObject(IUnknown* obj);

  // The host's YV_Finalyze calls have balanced its YV_Initialize calls. A
  // call still running then finishes without calling the host back again;
  // the object itself goes when the last such call has returned.
  bool Finalized() const { return m_nInits == 0; }
  // Keeps the object's memory, not its life: a thread of the library that
  // a host callback ended from inside (the detector's worker) may still be
  // on its way out after the teardown, and finds the lock and the tables
  // until it unpins.
  void Pin() { ++m_nPins; }
  void Unpin();

  std::recursive_mutex& Lock() { return m_cs; }
  uint32_t Flags() const { return m_dwFlags; }
  // Slot i of a table, or null; the caller holds the library lock.
  const SerialTypeSlot* SerialType(int i) const { return m_SerialTypes[i].get(); }
  const IpTypeSlot* IpType(int i) const { return m_IpTypes[i].get(); }

 private:
  CYvLib() = default;
  ~CYvLib() override = default;
  HRESULT Init(uint32_t Flags);
  // One reference less, with the process-wide mutex held; at zero the object
  // is unpublished and returned for the caller to tear down after the mutex.
  CYvLib* DropReference();
  // Releases what the host left open and frees the type slots; the memory
  // goes with the last pin.
  void Teardown();
  static void Destroy(CYvLib* dead);

  std::atomic<uint32_t> m_nRef{0};    // the host's references and those of running calls
  std::atomic<uint32_t> m_nInits{0};  // the host's own: YV_Initialize less YV_Finalyze
  std::atomic<uint32_t> m_nPins{1};   // the counted life, and each thread that pinned
  uint32_t m_dwFlags = 0;
  bool m_bInit = false;
  std::recursive_mutex m_cs;
  std::unique_ptr<IpTypeSlot> m_IpTypes[kTypeSlots];
  std::unique_ptr<SerialTypeSlot> m_SerialTypes[kTypeSlots];
  std::vector<IUnknown*> m_Objects;
};

// A reference on the live library object for the length of a call.
class LibRef {
 public:
  LibRef() : m_lib(CYvLib::Acquire()) {}
  ~LibRef() {
    if (m_lib) m_lib->Release();
  }
  LibRef(const LibRef&) = delete;
  LibRef& operator=(const LibRef&) = delete;
  explicit operator bool() const { return m_lib != nullptr; }
  CYvLib* operator->() const { return m_lib; }
  CYvLib* get() const { return m_lib; }

 private:
  CYvLib* m_lib;
};

}  // namespace ylvane
