#include "YvLib.h"

#include <algorithm>

#include "YvDetectorLink.h"
#include "YvDeviceMaps.h"
#include "YvHandOff.h"
#include "YvPort.h"
#include "sys/Net.h"

namespace ylvane {

namespace {

// Guards the publication and the counting of the object, so that two first
// YV_Initialize calls cannot race and a call that takes a reference never
// sees an object being destroyed. Held only for that: the teardown runs
// after it is left, so nothing the teardown waits for (a port's thread, and
// later the detector's) can block on it.
std::mutex g_libMutex;
CYvLib* g_pLib = nullptr;

bool SharesBit(uint32_t a, uint32_t b) { return (a & b) != 0; }

}  // namespace

HRESULT CYvLib::Initialize(uint32_t Flags) {
  return GuardStatus(
      [&]() -> HRESULT {
        std::lock_guard<std::mutex> guard(g_libMutex);
        if (g_pLib) {
          g_pLib->AddRef();
          ++g_pLib->m_nInits;
          return S_OK;
        }
        auto* lib = new CYvLib;
        HRESULT hr = lib->Init(Flags);
        if (YV_FAILED(hr)) {
          delete lib;
          return hr;
        }
        // Published only once it has started.
        lib->m_nRef = 1;
        lib->m_nInits = 1;
        g_pLib = lib;
        return S_OK;
      },
      /*memoryIsFail=*/true);
}

void CYvLib::Finalyze() {
  CYvLib* dead = nullptr;
  {
    std::lock_guard<std::mutex> guard(g_libMutex);
    // Only the host's own references: one more YV_Finalyze than it had
    // YV_Initialize calls must not take the reference of a call that is
    // still running (the one whose callback made it, for instance).
    if (g_pLib && g_pLib->m_nInits > 0) {
      --g_pLib->m_nInits;
      dead = g_pLib->DropReference();
    }
  }
  Destroy(dead);
}

void CYvLib::Destroy(CYvLib* dead) {
  if (!dead) return;
  dead->Teardown();
  dead->Unpin();
}

void CYvLib::Unpin() {
  if (--m_nPins == 0) delete this;
}

CYvLib* CYvLib::Acquire() {
  std::lock_guard<std::mutex> guard(g_libMutex);
  if (g_pLib) g_pLib->AddRef();
  return g_pLib;
}

void CYvLib::RemoveFromCurrent(IUnknown* obj) {
  LibRef lib;
  if (lib) lib->RemoveObject(obj);
}

HRESULT CYvLib::Init(uint32_t Flags) {
  m_dwFlags = Flags;
  if (sys::NetStartup() != 0) return YV_E_SOCKET;
  for (auto& slot : m_IpTypes) slot.reset();
  for (auto& slot : m_SerialTypes) slot.reset();
  m_bInit = true;
  return S_OK;
}

void CYvLib::Teardown() {
  if (!m_bInit) return;
  std::vector<IUnknown*> objects;
  {
    CCritLock lock(m_cs);
    objects.swap(m_Objects);
  }
  // The host's reference of each handle it never closed, newest first.
  for (auto it = objects.rbegin(); it != objects.rend(); ++it) (*it)->Release();
  {
    CCritLock lock(m_cs);
    for (auto& slot : m_IpTypes) slot.reset();
    for (auto& slot : m_SerialTypes) slot.reset();
  }
  m_bInit = false;
}

HRESULT CYvLib::QueryInterface(const YvIid& iid, void** out) {
  if (!out) return E_INVALIDARG;
  if (iid == IID_IUnknown || iid == IID_IYvDll) {
    *out = static_cast<IYvDll*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

uint32_t CYvLib::AddRef() { return ++m_nRef; }

CYvLib* CYvLib::DropReference() {
  if (--m_nRef != 0) return nullptr;
  if (g_pLib == this) g_pLib = nullptr;
  return this;
}

uint32_t CYvLib::Release() {
  CYvLib* dead;
  uint32_t n;
  {
    std::lock_guard<std::mutex> guard(g_libMutex);
    dead = DropReference();
    n = m_nRef;
  }
  Destroy(dead);
  return n;
}

void CYvLib::AddObject(IUnknown* obj) {
  CCritLock lock(m_cs);
  m_Objects.push_back(obj);
}

void CYvLib::RemoveObject(IUnknown* obj) {
  CCritLock lock(m_cs);
  auto it = std::find(m_Objects.begin(), m_Objects.end(), obj);
  if (it != m_Objects.end()) m_Objects.erase(it);
}

HRESULT CYvLib::EnumSerialPorts(uint32_t TypeMask, YV_ENUM_PORTS_CALLBACK Callback,
                                void* UserData) {
  if (!Callback) return E_INVALIDARG;
  return GuardStatus([&] { return ReportSerialPorts(*this, TypeMask, Callback, UserData); },
                     /*memoryIsFail=*/true);
}

HRESULT CYvLib::FindNotification(YV_HANDLE* Notifier, const YV_NOTIFY_SETTINGS* Settings) {
  if (!Notifier || !Settings || !Settings->Callback) return E_INVALIDARG;
  const uint32_t flags = Settings->Flags;
  const bool wantsMessages = SharesBit(flags, YV_NF_EXIST | YV_NF_CHANGE);
  const bool hostDrained = SharesBit(flags, YV_NF_WNDSYNC) && SharesBit(m_dwFlags, YV_INIT_NOWINDOW);
  if (!wantsMessages && !hostDrained) return E_INVALIDARG;
  *Notifier = nullptr;
  return GuardStatus([&] { return CreateNotifier(*this, Notifier, *Settings); });
}

HRESULT CYvLib::DeviceEventNotify(uint32_t EventType, void* EventData) {
  try {
    CCritLock lock(m_cs);
    if (g_pDetector) g_pDetector->OnDeviceChange(EventType, EventData);
  } catch (...) {
    // A device event the detector could not take is lost; the next
    // periodic rescan finds the device all the same.
  }
  return S_OK;
}

HRESULT CYvLib::Open(YV_HANDLE* Port, const char16_t* Name, int32_t PortType, uint32_t BaudRate,
                     char EvChar, uint8_t StopBits) {
  if (!Port || !Name || PortType == 0) return E_INVALIDARG;
  *Port = nullptr;
  return GuardStatus([&]() -> HRESULT {
    DetectorPauseScope pause(*this);
    IYvPort* port = nullptr;
    HRESULT hr = CreatePort(Name, &port, PortType, BaudRate, EvChar, StopBits);
    if (YV_FAILED(hr)) return hr;
    // Released again unless it reaches the host.
    std::unique_ptr<IYvPort, void (*)(IYvPort*)> owner(port, [](IYvPort* p) { p->Release(); });
    AddObject(port);
    *Port = static_cast<IUnknown*>(owner.release());
    return hr;
  });
}

namespace {

bool PortListValid(const YV_PORT_ID* Ports, int32_t PortCount) {
  if (!Ports) return true;
  if (PortCount <= 0) return false;
  for (int32_t i = 0; i < PortCount; ++i)
    if (!Ports[i].Name) return false;
  return true;
}

}  // namespace

HRESULT CYvLib::EnumSerialDevices(uint32_t TypeMask, const YV_PORT_ID* Ports, int32_t PortCount,
                                  YV_ENUM_DEVICES_CALLBACK Callback, void* UserData,
                                  const YV_SCAN_PARAMS* Params, YV_BOOL Rescan) {
  if (TypeMask == 0 || !Callback || !PortListValid(Ports, PortCount)) return E_INVALIDARG;
  return GuardStatus([&]() -> HRESULT {
    YV_SCAN_PARAMS params = Params ? *Params : YV_SCAN_PARAMS{};
    if (params.Tries == 0) params.Tries = 2;
    if (params.ReplyTimeout == 0) params.ReplyTimeout = 1000;
    if (params.FirstPhaseTimeout == 0) params.FirstPhaseTimeout = 500;
    if (params.WaitSlice == 0) params.WaitSlice = -1;
    return RunEnumSerialDevices(*this, TypeMask, Ports, PortCount, Callback, UserData, params,
                                Rescan != 0);
  });
}

HRESULT CYvLib::FindSerialDevice(uint32_t TypeMask, const YV_PORT_ID* Ports, int32_t PortCount,
                                 void* DevData, int32_t DevDataSize, YV_PORT_INFO* Info,
                                 const YV_SCAN_PARAMS* Params, YV_BOOL Rescan) {
  // A negative size would pass an unsigned comparison and later copy
  // "the smaller" of two sizes as a negative count: refused.
  if (TypeMask == 0 || !DevData || DevDataSize < 16 ||
      !PortListValid(Ports, PortCount))
    return E_INVALIDARG;
  return GuardStatus([&]() -> HRESULT {
    YV_SCAN_PARAMS params = Params ? *Params : YV_SCAN_PARAMS{};
    if (params.Tries == 0) params.Tries = 3;
    if (params.ReplyTimeout == 0) params.ReplyTimeout = 1000;
    if (params.FirstPhaseTimeout == 0) params.FirstPhaseTimeout = params.ReplyTimeout;
    if (params.WaitSlice == 0) params.WaitSlice = -1;
    return RunFindSerialDevice(*this, TypeMask, Ports, PortCount, DevData, DevDataSize, Info,
                               params, Rescan != 0);
  });
}

HRESULT CYvLib::EnumIpDevices(uint32_t TypeMask, YV_ENUM_DEVICES_CALLBACK Callback,
                              void* UserData, const YV_SCAN_PARAMS* Params, YV_BOOL Rescan) {
  if (TypeMask == 0 || !Callback) return E_INVALIDARG;
  return GuardStatus([&]() -> HRESULT {
    YV_SCAN_PARAMS params = Params ? *Params : YV_SCAN_PARAMS{};
    if (params.Tries == 0) params.Tries = 1;
    if (params.ReplyTimeout == 0) params.ReplyTimeout = 1000;
    return RunEnumIpDevices(*this, TypeMask, Callback, UserData, params, Rescan != 0);
  });
}

HRESULT CYvLib::RegSerialDevice(const YV_SERIAL_DEVICE_TYPE* Type) {
  if (!Type) return E_INVALIDARG;
  // Copied field by field: the record is packed and its pointers unaligned.
  const uint32_t index = Type->TypeIndex;
  const void* request = Type->Request;
  const int32_t requestSize = Type->RequestSize;
  const YV_DEVTYPE_CALLBACK callback = Type->Callback;
  const int32_t devDataSize = Type->DevDataSize;
  const uint16_t* pids = Type->Pids;
  const int32_t pidCount = Type->PidCount;
  const char16_t* descFilter = Type->DescFilter;
  if (index >= kTypeSlots) return E_INVALIDARG;
  if (request && (requestSize <= 0 || !callback)) return E_INVALIDARG;
  if ((pids && pidCount < 0) || devDataSize < 0) return E_INVALIDARG;
  return GuardStatus([&]() -> HRESULT {
    CCritLock lock(m_cs);
    // The new state is built aside and committed at the end, so a slot that
    // runs out of memory half-way keeps what it had.
    SerialTypeSlot slot = m_SerialTypes[index] ? *m_SerialTypes[index] : SerialTypeSlot{};
    // In the host's order; the lookups search a sorted copy of their own.
    if (pids) slot.vPids.assign(pids, pids + pidCount);
    slot.dwBaud = Type->BaudRate;
    slot.bStopBits = Type->StopBits;
    slot.chEvChar = Type->EvChar;
    slot.nReplySize = devDataSize;
    slot.pfnCallback = callback;
    if (request) {
      const auto* bytes = static_cast<const uint8_t*>(request);
      slot.pReqData.assign(bytes, bytes + requestSize);
      slot.nReqSize = requestSize;
    }
    if (descFilter) slot.sName = descFilter;
    if (m_SerialTypes[index])
      *m_SerialTypes[index] = std::move(slot);
    else
      m_SerialTypes[index] = std::make_unique<SerialTypeSlot>(std::move(slot));
    return S_OK;
  });
}

HRESULT CYvLib::RegIpDevice(const YV_IP_DEVICE_TYPE* Type) {
  if (!Type || Type->TypeIndex >= kTypeSlots || !Type->Request || Type->RequestSize <= 0 ||
      !Type->Callback || Type->UdpPort == 0 || Type->DevDataSize < 0)
    return E_INVALIDARG;
  return GuardStatus([&]() -> HRESULT {
    CCritLock lock(m_cs);
    auto slot = std::make_unique<IpTypeSlot>();
    const auto* bytes = static_cast<const uint8_t*>(Type->Request);
    slot->pReqData.assign(bytes, bytes + Type->RequestSize);
    slot->nReqSize = Type->RequestSize;
    slot->pfnCallback = Type->Callback;
    slot->nReplySize = Type->DevDataSize;
    slot->wUdpPort = static_cast<uint16_t>(Type->UdpPort & 0xFFFF);
    m_IpTypes[Type->TypeIndex] = std::move(slot);
    return S_OK;
  });
}

}  // namespace ylvane
