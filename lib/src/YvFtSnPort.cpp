#include "YvFtSnPort.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

#include "YvFtLib.h"
#include "YvHandOff.h"
#include "YvSeams.h"
#include "sys/DynLib.h"
#include "sys/NeverDestroyed.h"
#include "sys/Text.h"

namespace ylvane {

namespace {

// Driver status values the port tells apart.
constexpr uint32_t kFtDeviceNotFound = 2;
constexpr uint32_t kFtDeviceNotOpened = 3;
constexpr uint32_t kFtIoError = 4;
constexpr uint32_t kFtInsufficientResources = 5;

constexpr uint32_t kFtOpenBySerialNumber = 1;
constexpr uint32_t kFtEventRxChar = 1;
constexpr uint32_t kFtPurgeRx = 1;
constexpr uint32_t kFtPurgeTx = 2;

// Shared by every port of this kind, under g_ftLoadLock: the library is
// loaded exactly while g_nFtPorts is above zero. Ports are opened and closed
// by host threads and by the detector's rescans alike. Plain values with
// nothing to destroy: a port still open when the process exits may be
// closed by a host's exit handler, after the run-time destroyed the
// statics, and its driver must still be loaded then.
std::mutex g_ftLoadLock;
sys::DynLib* g_hFtLib = nullptr;
FtPortFuncs g_FtFuncs;
int g_nFtPorts = 0;
// The event records handed to the driver. The driver signals a record
// until its handle is closed; a handle whose close it refused it may go on
// signalling for as long as it stays loaded, which is not ours to tell: our
// unload is only one reference among those of a listing or version query on
// another thread, and of a host that loaded the driver itself. So the record
// of a refused close is stranded: never handed out again and never freed.
// A closed port gives its record back for the next port, and the unload
// frees those, so that a host loading and unloading the library again and
// again does not grow. Room for every record made is kept in both lists, so
// that giving one back never allocates.
sys::NeverDestroyed<std::vector<sys::CondRecord*>> g_FreeRecords;
sys::NeverDestroyed<std::vector<sys::CondRecord*>> g_StrandedRecords;
size_t g_nRecords = 0;  // made and not freed

template <class Fn>
bool Bind(const sys::DynLib& lib, const char* name, Fn& fn) {
  fn = reinterpret_cast<Fn>(lib.Symbol(name));
  return fn != nullptr;
}

}  // namespace

HRESULT CYvFtSnPort::LoadFtLibrary() {
  auto lib = std::make_unique<sys::DynLib>(FtLibraryPath());
  if (!lib->Loaded()) return YV_E_FTD2XX_LOAD;
  FtPortFuncs f;
  // In this order; the first one missing ends the load (and frees the library).
  const bool bound =
      Bind(*lib, "FT_OpenEx", f.OpenEx) && Bind(*lib, "FT_Close", f.Close) &&
      Bind(*lib, "FT_SetBaudRate", f.SetBaudRate) &&
      Bind(*lib, "FT_SetDataCharacteristics", f.SetDataCharacteristics) &&
      Bind(*lib, "FT_SetFlowControl", f.SetFlowControl) && Bind(*lib, "FT_SetChars", f.SetChars) &&
      Bind(*lib, "FT_SetTimeouts", f.SetTimeouts) && Bind(*lib, "FT_Purge", f.Purge) &&
      Bind(*lib, "FT_SetEventNotification", f.SetEventNotification) &&
      Bind(*lib, "FT_Write", f.Write) && Bind(*lib, "FT_Read", f.Read) &&
      Bind(*lib, "FT_GetStatus", f.GetStatus) && Bind(*lib, "FT_SetDtr", f.SetDtr) &&
      Bind(*lib, "FT_ClrDtr", f.ClrDtr) && Bind(*lib, "FT_SetRts", f.SetRts) &&
      Bind(*lib, "FT_ClrRts", f.ClrRts);
  if (!bound) return YV_E_FTD2XX_LOAD;
  g_hFtLib = lib.release();
  g_FtFuncs = f;
  g_nFtPorts = 1;
  return S_OK;
}

void CYvFtSnPort::UnloadFtLibrary() {
  g_FtFuncs = FtPortFuncs{};
  delete g_hFtLib;
  g_hFtLib = nullptr;
  // Every port has closed: the driver signals none of the records given
  // back. The stranded ones stay.
  for (sys::CondRecord* r : *g_FreeRecords) sys::DeleteCondRecord(r);
  g_nRecords -= g_FreeRecords->size();
  std::vector<sys::CondRecord*>().swap(*g_FreeRecords);
  if (g_StrandedRecords->empty()) std::vector<sys::CondRecord*>().swap(*g_StrandedRecords);
}

HRESULT CYvFtSnPort::CountPortIn(FtPortFuncs& funcs, sys::CondRecord*& record) {
  std::lock_guard<std::mutex> lock(g_ftLoadLock);
  if (g_FreeRecords->empty()) {
    // Made before the count, so that running out of memory counts nothing.
    g_FreeRecords->reserve(g_nRecords + 1);
    g_StrandedRecords->reserve(g_nRecords + 1);
    g_FreeRecords->push_back(sys::NewCondRecord());
    ++g_nRecords;
  }
  if (g_nFtPorts == 0) {
    HRESULT hr = LoadFtLibrary();
    if (YV_FAILED(hr)) {
      // Nothing is loaded: nothing can signal the records.
      UnloadFtLibrary();
      return hr;
    }
  } else {
    ++g_nFtPorts;
  }
  record = g_FreeRecords->back();
  g_FreeRecords->pop_back();
  funcs = g_FtFuncs;
  return S_OK;
}

void CYvFtSnPort::CountPortOut(sys::CondRecord* record, bool AStranded) {
  std::lock_guard<std::mutex> lock(g_ftLoadLock);
  // Room was kept for it in either list.
  (AStranded ? *g_StrandedRecords : *g_FreeRecords).push_back(record);
  if (--g_nFtPorts == 0) UnloadFtLibrary();
}

CYvFtSnPort::~CYvFtSnPort() { Close(); }

HRESULT CYvFtSnPort::Open(const char16_t* Name, uint32_t BaudRate, char EvChar, uint8_t StopBits) {
  Close();
  FtPortFuncs ft;
  sys::CondRecord* record = nullptr;
  HRESULT hr = CountPortIn(ft, record);
  if (YV_FAILED(hr)) return hr;
  // Every way out below but success counts the port out again.
  struct Counted {
    sys::CondRecord* record;
    bool held = true;
    ~Counted() {
      if (held) CountPortOut(record, false);
    }
  } counted{record};

  // No device has an empty serial number or one longer than the buffer
  // the driver is given; such a name opens nothing.
  auto serial = sys::ToUtf8(Name);
  if (!serial || serial->empty() || serial->size() >= kSerialBuffer) return YV_E_PORT_NOT_EXISTS;
  char arg[kSerialBuffer] = {};
  std::memcpy(arg, serial->data(), serial->size());

  void* h = nullptr;
  const uint32_t st = ft.OpenEx(arg, kFtOpenBySerialNumber, &h);
  if (st == kFtDeviceNotFound) return YV_E_PORT_NOT_EXISTS;
  if (st == kFtDeviceNotOpened) return YV_E_PORT_BUSY;  // opened elsewhere
  if (st != 0 || !h) return YV_E_PORT_OPEN;
  try {
    m_sName = Name;
  } catch (...) {
    ft.Close(h);
    throw;
  }

  // A rate or an event character of 0 leaves the device's own.
  const uint8_t ev = static_cast<uint8_t>(EvChar);
  const bool configured = (BaudRate == 0 || ft.SetBaudRate(h, BaudRate) == 0) &&
                          ft.SetDataCharacteristics(h, 8, StopBits, 0) == 0 &&
                          ft.SetFlowControl(h, 0, 0, 0) == 0 &&
                          (ev == 0 || ft.SetChars(h, ev, 1, 0, 0) == 0) &&
                          ft.SetTimeouts(h, kReadTimeoutMs, kWriteTimeoutMs) == 0;
  if (!configured) {
    ft.Close(h);
    return YV_E_PORT_SETUP;
  }
  m_dwBaud = BaudRate;
  m_chEvChar = EvChar;
  ft.Purge(h, kFtPurgeRx | kFtPurgeTx);
  m_hEvent.Reset();
  try {
    m_bridge.Start(m_hEvent, record);
  } catch (...) {
    ft.Close(h);
    return E_FAIL;
  }
  ft.SetEventNotification(h, kFtEventRxChar, record);
  m_ft = ft;
  m_fGone = false;
  m_hFt = h;
  counted.held = false;
  return S_OK;
}

void CYvFtSnPort::Close() {
  if (!m_hFt) return;
  // A refused close leaves the driver free to signal the record still.
  const bool refused = m_ft.Close(m_hFt) != 0;
  m_hFt = nullptr;
  // The driver signals the record no more; the bridge can go.
  m_bridge.Stop();
  m_hEvent.Set();  // ends a pending wait
  m_ft = FtPortFuncs{};
  m_fGone = false;
  CountPortOut(m_bridge.Record(), refused);
}

HRESULT CYvFtSnPort::Unusable() const {
  // A closed port has no driver handle to pass on; answered as a port that
  // cannot talk, as a serial port's closed descriptor is, rather than the
  // E_FAIL the driver's invalid-handle status would map to.
  if (!m_hFt) return YV_E_COMM;
  if (m_fGone) return YV_E_CLOSED_OUTSIDE;
  return S_OK;
}

bool CYvFtSnPort::DeviceListed() const {
  std::vector<FtListEntry> list;
  // Without a list there is no telling; the device counts as present.
  if (FtListDevices(list) != FtListStatus::Ok) return true;
  for (const FtListEntry& e : list) {
    if (e.serial == m_sName) return true;
    // The list's serial field holds 16 bytes; a longer number is cut there.
    if (e.serial.size() >= 16 && m_sName.compare(0, e.serial.size(), e.serial) == 0) return true;
  }
  return false;
}

HRESULT CYvFtSnPort::Failure(uint32_t status) {
  if (status == kFtDeviceNotFound || !DeviceListed()) {
    m_fGone = true;
    m_hEvent.Set();  // a waiting host wakes and learns it from its next call
    return YV_E_CLOSED_OUTSIDE;
  }
  switch (status) {
    case kFtIoError:
      return YV_E_COMM;
    case kFtInsufficientResources:
      return E_OUTOFMEMORY;
    default:
      return E_FAIL;
  }
}

HRESULT CYvFtSnPort::SetBaudAndEvChar(uint32_t BaudRate, char EvChar) {
  if (!m_hFt) return YV_E_PORT_SETUP;
  if (m_ft.SetBaudRate(m_hFt, BaudRate) != 0) return YV_E_PORT_SETUP;
  m_dwBaud = BaudRate;
  const uint8_t ev = static_cast<uint8_t>(EvChar);
  if (m_ft.SetChars(m_hFt, ev, ev != 0 ? 1 : 0, 0, 0) != 0) return YV_E_PORT_SETUP;
  m_chEvChar = EvChar;
  return S_OK;
}

HRESULT CYvFtSnPort::GetBaudAndEvChar(uint32_t* BaudRate, char* EvChar) {
  // What was given, not what the device has.
  if (BaudRate) *BaudRate = m_dwBaud;
  if (EvChar) *EvChar = m_chEvChar;
  return S_OK;
}

HRESULT CYvFtSnPort::Clear(YV_BOOL Rx, YV_BOOL Tx) {
  if (HRESULT hr = Unusable()) return hr;
  const uint32_t mask = (Rx ? kFtPurgeRx : 0) | (Tx ? kFtPurgeTx : 0);
  if (mask == 0) return S_OK;
  if (uint32_t st = m_ft.Purge(m_hFt, mask)) return Failure(st);
  return S_OK;
}

HRESULT CYvFtSnPort::Write(const void* Buf, int32_t Count) {
  if (HRESULT hr = Unusable()) return hr;
  if (Count <= 0) return S_OK;
  uint32_t written = 0;
  const uint32_t count = static_cast<uint32_t>(Count);
  if (uint32_t st = m_ft.Write(m_hFt, const_cast<void*>(Buf), count, &written)) return Failure(st);
  // A write the driver cut short at its time-out has dropped the rest.
  if (written < count) return YV_E_COMM;
  return S_OK;
}

HRESULT CYvFtSnPort::Read(void* Buf, int32_t Count, int32_t* Read) {
  if (HRESULT hr = Unusable()) return hr;
  if (Count <= 0) {
    *Read = 0;
    return S_OK;
  }
  // The driver returns when Count bytes are there or its read time-out has
  // passed; a host asks for no more than GetInCount reported.
  uint32_t got = 0;
  const uint32_t count = static_cast<uint32_t>(Count);
  if (uint32_t st = m_ft.Read(m_hFt, Buf, count, &got)) return Failure(st);
  *Read = static_cast<int32_t>(std::min(got, count));
  return S_OK;
}

HRESULT CYvFtSnPort::GetInCount(int32_t* Count) {
  if (HRESULT hr = Unusable()) return hr;
  uint32_t rx = 0, tx = 0, events = 0;
  if (uint32_t st = m_ft.GetStatus(m_hFt, &rx, &tx, &events)) return Failure(st);
  *Count = static_cast<int32_t>(std::min<uint32_t>(rx, std::numeric_limits<int32_t>::max()));
  return S_OK;
}

HRESULT CYvFtSnPort::StartWaitEvent(int* Event) {
  if (HRESULT hr = Unusable()) return hr;
  m_hEvent.Reset();
  if (uint32_t st = m_ft.SetEventNotification(m_hFt, kFtEventRxChar, m_bridge.Record()))
    return Failure(st);
  // Bytes that came after the host's last read signalled before the reset
  // above; their signal is gone, so the queue itself is asked.
  uint32_t rx = 0, tx = 0, events = 0;
  if (uint32_t st = m_ft.GetStatus(m_hFt, &rx, &tx, &events)) return Failure(st);
  if (rx > 0) m_hEvent.Set();
  // Handed out only when it can come: a port found gone above answers
  // "closed from the outside" with no event, as every port kind does.
  *Event = m_hEvent.Fd();
  return S_OK;
}

HRESULT CYvFtSnPort::Line(uint32_t (*on)(void*), uint32_t (*off)(void*), YV_BOOL On) {
  if (HRESULT hr = Unusable()) return hr;
  if (uint32_t st = (On ? on : off)(m_hFt)) return Failure(st);
  return S_OK;
}

HRESULT CYvFtSnPort::SetDtr(YV_BOOL On) { return Line(m_ft.SetDtr, m_ft.ClrDtr, On); }

HRESULT CYvFtSnPort::SetRts(YV_BOOL On) { return Line(m_ft.SetRts, m_ft.ClrRts, On); }

HRESULT CYvFtSnPort::GetFtDriverVersion(uint32_t* Version) {
  if (!m_hFt) return E_FAIL;
  using GetDriverVersionFn = uint32_t (*)(void* h, uint32_t* version);
  GetDriverVersionFn fn = nullptr;
  {
    // Looked up at every call: it is not among the functions bound at load.
    std::lock_guard<std::mutex> lock(g_ftLoadLock);
    if (g_hFtLib) Bind(*g_hFtLib, "FT_GetDriverVersion", fn);
  }
  uint32_t v = 0;
  if (!fn || fn(m_hFt, &v) != 0) return E_FAIL;
  *Version = FtVersionWord(v);
  return S_OK;
}

HRESULT GetFtDriverVersion(IYvPort& port, uint32_t* Version) {
  auto* ft = dynamic_cast<CYvFtSnPort*>(&port);
  if (!ft) return E_NOINTERFACE;
  return ft->GetFtDriverVersion(Version);
}

}  // namespace ylvane
