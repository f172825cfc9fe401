#include "YvNotifier.h"

#include <cstring>
#include <new>

#include "YvDetector.h"
#include "YvHandOff.h"
#include "YvLib.h"

namespace ylvane {

namespace {

// A private copy of a device-data block; null only when it cannot be had.
// No block, or a size of 0 or less, is "no data".
struct DataCopy {
  std::unique_ptr<uint8_t[]> bytes;
  bool failed = false;
};

DataCopy CopyData(const void* data, int32_t size) {
  DataCopy c;
  if (!data || size <= 0) return c;
  c.bytes.reset(new (std::nothrow) uint8_t[static_cast<size_t>(size)]);
  if (!c.bytes) {
    c.failed = true;
    return c;
  }
  std::memcpy(c.bytes.get(), data, static_cast<size_t>(size));
  return c;
}

// Texts in a record may come from a host's device-type callback, which need
// not have terminated them: a host reading them must find an end.
YV_PORT_INFO Terminated(const YV_PORT_INFO& info) {
  YV_PORT_INFO out = info;
  out.Name[31] = 0;
  out.PortName[31] = 0;
  out.Description[63] = 0;
  return out;
}

class CExistNMsg final : public CYvNotifier::CNMsg {
 public:
  const void* Payload() const override { return &m_Payload; }
  YV_EXIST_NMSG m_Payload{};
  std::unique_ptr<uint8_t[]> m_pData;
};

class CChangeNMsg final : public CYvNotifier::CNMsg {
 public:
  const void* Payload() const override { return &m_Payload; }
  YV_CHANGE_NMSG m_Payload{};
  std::unique_ptr<uint8_t[]> m_pNewData;
  std::unique_ptr<uint8_t[]> m_pOldData;
};

class CErrorNMsg final : public CYvNotifier::CNMsg {
 public:
  const void* Payload() const override { return &m_Payload; }
  YV_ERROR_NMSG m_Payload{};
};

}  // namespace

std::unique_ptr<CYvNotifier::CNMsg> CYvNotifier::NewExist(bool arrival, const YV_PORT_INFO& info,
                                                          const void* data, int32_t size) {
  DataCopy copy = CopyData(data, size);
  if (copy.failed) return nullptr;
  auto msg = std::make_unique<CExistNMsg>();
  msg->m_nKind = arrival ? YV_NMSG_ARRIVAL : YV_NMSG_REMOVAL;
  std::memset(&msg->m_Payload, 0, sizeof msg->m_Payload);
  msg->m_Payload.Info = Terminated(info);
  msg->m_pData = std::move(copy.bytes);
  msg->m_Payload.DevData = msg->m_pData.get();
  return msg;
}

std::unique_ptr<CYvNotifier::CNMsg> CYvNotifier::NewChange(uint32_t changeMask,
                                                           const YV_PORT_INFO& newInfo,
                                                           const void* newData, int32_t newSize,
                                                           const YV_PORT_INFO& oldInfo,
                                                           const void* oldData, int32_t oldSize) {
  DataCopy newCopy = CopyData(newData, newSize);
  DataCopy oldCopy = CopyData(oldData, oldSize);
  if (newCopy.failed || oldCopy.failed) return nullptr;
  auto msg = std::make_unique<CChangeNMsg>();
  msg->m_nKind = YV_NMSG_CHANGE;
  std::memset(&msg->m_Payload, 0, sizeof msg->m_Payload);
  msg->m_Payload.ChangeMask = changeMask;
  msg->m_Payload.NewInfo = Terminated(newInfo);
  msg->m_Payload.OldInfo = Terminated(oldInfo);
  msg->m_pNewData = std::move(newCopy.bytes);
  msg->m_pOldData = std::move(oldCopy.bytes);
  msg->m_Payload.NewDevData = msg->m_pNewData.get();
  msg->m_Payload.OldDevData = msg->m_pOldData.get();
  return msg;
}

std::unique_ptr<CYvNotifier::CNMsg> CYvNotifier::NewError(HRESULT error) {
  auto msg = std::make_unique<CErrorNMsg>();
  msg->m_nKind = YV_NMSG_ERROR;
  msg->m_Payload.Error = error;
  return msg;
}

void CYvNotifier::DropRef(CNMsg* msg) {
  if (--msg->m_nRef == 0) delete msg;
}

HRESULT CYvNotifier::Create(CYvLib& lib, YV_HANDLE* Notifier, const YV_NOTIFY_SETTINGS& Settings) {
  *Notifier = nullptr;
  CYvNotifier* n = new CYvNotifier(lib);
  HRESULT hr;
  try {
    hr = n->Attach(Settings);
  } catch (...) {
    delete n;
    throw;
  }
  if (YV_FAILED(hr)) {
    delete n;
    return hr;
  }
  *Notifier = static_cast<IUnknown*>(n);
  return S_OK;
}

HRESULT CreateNotifier(CYvLib& lib, YV_HANDLE* Notifier, const YV_NOTIFY_SETTINGS& Settings) {
  return CYvNotifier::Create(lib, Notifier, Settings);
}

HRESULT CYvNotifier::Attach(const YV_NOTIFY_SETTINGS& Settings) {
  m_dwFlags = Settings.Flags;
  m_pfnCallback = Settings.Callback;
  m_pUser = Settings.UserData;
  m_dwSerialMask = Settings.SerialTypeMask;
  m_dwIpMask = Settings.IpTypeMask;
  m_nSerialInterval =
      Settings.SerialScanInterval ? Settings.SerialScanInterval : kDefaultSerialInterval;
  m_nIpInterval = Settings.IpScanInterval ? Settings.IpScanInterval : kDefaultIpInterval;

  CYvDetector* detector;
  {
    CCritLock lock(m_lib.Lock());
    detector = static_cast<CYvDetector*>(g_pDetector);
    const bool created = detector == nullptr;
    if (created) detector = new CYvDetector(m_lib);
    HRESULT hr = detector->AddNotifier(this);
    if (YV_FAILED(hr)) {
      if (created) delete detector;  // never started, never published
      return hr;
    }
    if (created) g_pDetector = detector;
    m_pDetector = detector;
  }
  // Undone outside the lock: a detector created here stops with the
  // detach, and its worker may be waiting for the lock.
  try {
    m_lib.AddObject(this);
    detector->RegisterUsbNotification(Settings.Recipient);
  } catch (...) {
    detector->EndAttach();
    m_lib.RemoveObject(this);
    m_pDetector = nullptr;
    detector->RemoveNotifier(this);
    throw;
  }
  detector->EndAttach();
  AddRef();
  return S_OK;
}

CYvNotifier::~CYvNotifier() { ClearQueue(); }

HRESULT CYvNotifier::QueryInterface(const YvIid& iid, void** out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_IYvNotifier) {
    *out = static_cast<IYvNotifier*>(this);
    AddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}

uint32_t CYvNotifier::AddRef() { return static_cast<uint32_t>(++m_nRef); }

uint32_t CYvNotifier::Release() {
  const int32_t n = --m_nRef;
  if (n != 0) return static_cast<uint32_t>(n);
  m_lib.RemoveObject(this);
  if (CYvDetector* detector = m_pDetector) {
    m_pDetector = nullptr;
    detector->RemoveNotifier(this);
  }
  {
    // What is still queued is discarded undelivered, also by a drain that
    // is under way (its callback may be the one that closed us).
    CCritLock lock(m_lib.Lock());
    m_bClosed = true;
    ClearQueue();
  }
  DropHold();
  return 0;
}

void CYvNotifier::DropHold() {
  if (--m_nHolds == 0) delete this;
}

HRESULT CYvNotifier::ProcessMessages(YV_NOTIFY_CALLBACK Callback, void* UserData) {
  if (!Callback) {
    ClearQueue();
    return S_OK;
  }
  // A close of the handle meanwhile, on another thread or from the
  // callback, ends the deliveries at once; the memory goes when this drain
  // is over.
  ++m_nHolds;
  struct Hold {
    CYvNotifier* n;
    ~Hold() { n->DropHold(); }
  } hold{this};
  for (;;) {
    CNMsg* msg;
    {
      CCritLock lock(m_lib.Lock());
      // So does the host's last YV_Finalyze: the library's teardown, once
      // the host's call has returned, discards the rest.
      if (m_bClosed || m_lib.Finalized() || m_Queue.empty()) return S_OK;
      msg = m_Queue.front();
      m_Queue.pop_front();
    }
    bool threw = false;
    try {
      if (msg->m_nKind >= YV_NMSG_ARRIVAL && msg->m_nKind <= YV_NMSG_ERROR)
        Callback(msg->m_nKind, msg->Payload(), UserData);
    } catch (...) {
      threw = true;
    }
    {
      CCritLock lock(m_lib.Lock());
      DropRef(msg);
    }
    if (threw) return E_FAIL;
  }
}

void CYvNotifier::ClearQueue() {
  CCritLock lock(m_lib.Lock());
  for (CNMsg* msg : m_Queue) DropRef(msg);
  m_Queue.clear();
}

bool CYvNotifier::TakesPart(uint32_t kind, uint32_t typeMask, bool ip) const {
  uint32_t flag;
  switch (kind) {
    case YV_NMSG_ARRIVAL:
    case YV_NMSG_REMOVAL:
      flag = YV_NF_EXIST;
      break;
    case YV_NMSG_CHANGE:
      flag = YV_NF_CHANGE;
      break;
    case YV_NMSG_ERROR:
      return (m_dwFlags & YV_NF_ERROR) != 0;  // errors have no type filter
    default:
      return false;
  }
  if (!(m_dwFlags & flag)) return false;
  // A device of no known type reaches everyone who wants its kind.
  return typeMask == 0 || (typeMask & (ip ? m_dwIpMask : m_dwSerialMask)) != 0;
}

}  // namespace ylvane
