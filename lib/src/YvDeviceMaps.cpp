#include "YvDeviceMaps.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <set>

#include "YvDetector.h"
#include "YvDetectorLink.h"
#include "YvHandOff.h"
#include "YvLib.h"

namespace ylvane {

namespace {

constexpr uint32_t kAllTypes = 0xFFFFFFFFu;
constexpr size_t kMaxName = 31;  // room of YV_PORT_INFO's names
// A block that now belongs to another device type: every data bit but the
// first word's, which holds the type.
constexpr uint32_t kRetyped = YV_CHG_DATA1 | YV_CHG_DATA2 | YV_CHG_DATA3 | YV_CHG_DATA_REST;

uint32_t MapBit(bool ip) { return ip ? 2u : 1u; }

template <size_t N>
void CopyText(char16_t (&field)[N], std::u16string_view text) {
  const size_t n = std::min(text.size(), N - 1);
  std::memcpy(field, text.data(), n * sizeof(char16_t));
  field[n] = 0;
}

int32_t WordAt(const uint8_t* p) {
  int32_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

// The first word of an entry's copy (the device type); a copy shorter than
// a word gives what it holds.
int32_t FirstWordOf(const DeviceMapEntry& e) {
  int32_t w = 0;
  std::memcpy(&w, e.pData.get(), std::min<size_t>(static_cast<size_t>(e.nDataSize), sizeof w));
  return w;
}

// A fresh copy of size bytes for the entry; when it cannot be had the entry
// keeps no data rather than failing the scan.
void StoreData(DeviceMapEntry& e, const uint8_t* data, int32_t size) {
  e.pData.reset();
  e.nDataSize = 0;
  if (size <= 0) return;
  e.pData.reset(new (std::nothrow) uint8_t[static_cast<size_t>(size)]);
  if (!e.pData) return;
  std::memcpy(e.pData.get(), data, static_cast<size_t>(size));
  e.nDataSize = size;
}

// The data bits of a change within one device type: a word of the new block
// differs (a word the previous copy did not reach counts as different), the
// size differs, or a block longer than four words differs anywhere.
uint32_t DataChanges(const DeviceMapEntry& e, const uint8_t* data, int32_t size) {
  uint32_t mask = 0;
  const uint8_t* old = e.pData.get();
  for (int32_t i = 0; i < 4 && (i + 1) * 4 <= size; ++i) {
    if ((i + 1) * 4 > e.nDataSize || std::memcmp(old + i * 4, data + i * 4, 4) != 0)
      mask |= YV_CHG_DATA0 << i;
  }
  if (e.nDataSize != size ||
      (size > 16 && std::memcmp(old, data, static_cast<size_t>(size)) != 0))
    mask |= YV_CHG_DATA_REST;
  return mask;
}

std::vector<uint8_t> DataOf(const DeviceMapEntry& e) {
  if (!e.pData) return {};
  return std::vector<uint8_t>(e.pData.get(), e.pData.get() + e.nDataSize);
}

}  // namespace

std::optional<std::u16string> MakeDeviceKey(int32_t PortType, std::u16string_view Name) {
  if (PortType < YV_PORT_COM || PortType > YV_PORT_IPS) return std::nullopt;
  std::u16string key(1, static_cast<char16_t>(u'A' + PortType));
  key.append(Name);
  return key;
}

// ---- The diff of a scan against a map ------------------------------------

std::optional<int32_t> CYvDetector::DevDataSizeOf(const void* devData, bool ip) const {
  const int32_t index = WordAt(static_cast<const uint8_t*>(devData));
  if (index < 0 || index >= kTypeSlots) return std::nullopt;
  if (ip) {
    const IpTypeSlot* slot = m_lib.IpType(index);
    if (!slot) return std::nullopt;
    return std::max(slot->nReplySize, 0);
  }
  const SerialTypeSlot* slot = m_lib.SerialType(index);
  if (!slot) return std::nullopt;
  return std::max(slot->nReplySize, 0);
}

void CYvDetector::MarkAllUnseen(const YV_PORT_ID* ports, int32_t count, bool ip) {
  CCritLock lock(m_lib.Lock());
  DeviceMap& map = ip ? m_IpMap : m_SerialMap;
  // Whatever a map holds before its first finished sweep may be long out
  // of date (scanning was off meanwhile): it is filled afresh.
  if (!(m_dwMapsValid & MapBit(ip))) {
    map.clear();
    return;
  }
  std::set<std::u16string> listed;
  for (int32_t i = 0; ports && i < count; ++i) {
    if (!ports[i].Name) continue;
    if (auto key = MakeDeviceKey(ports[i].PortType, ports[i].Name)) listed.insert(std::move(*key));
  }
  // With a port list exactly the listed entries are marked: marks left by
  // an earlier scan that failed must not be swept by this one.
  for (auto& [key, e] : map) {
    if (!ports || listed.count(key))
      e.dwFlags |= DeviceMapEntry::kUnseen;
    else
      e.dwFlags &= ~DeviceMapEntry::kUnseen;
  }
}

void CYvDetector::UpdateDevice(const void* devData, std::vector<uint8_t>* outData,
                               const YV_PORT_INFO* info, bool ip) {
  if (outData) outData->clear();
  if (!info) return;
  const std::u16string name = FieldText(info->Name);
  const std::optional<std::u16string> key = MakeDeviceKey(info->PortType, name);
  if (!key || name.empty()) return;  // nothing YV_Open could take

  CCritLock lock(m_lib.Lock());
  // A block whose second word is 0 carries no data; otherwise its size is
  // that of the device type named by its first word.
  const auto* bytes = static_cast<const uint8_t*>(devData);
  bool given = false;
  int32_t size = 0;
  if (bytes && WordAt(bytes + 4) != 0) {
    if (std::optional<int32_t> n = DevDataSizeOf(bytes, ip)) {
      given = true;
      size = *n;
    }
  }
  const bool busy = (info->Busy & YV_BUSY_INUSE) != 0;
  const bool initial = !(m_dwMapsValid & MapBit(ip));
  DeviceMap& map = ip ? m_IpMap : m_SerialMap;

  auto it = map.find(*key);
  if (it == map.end()) {
    // A port of a host's list that is the COM name of a known FTDI device
    // is that device, not a new one.
    if ((info->Busy & YV_BUSY_FROM_LIST) && info->PortType == YV_PORT_COM) {
      for (auto ft = map.lower_bound(u"C"); ft != map.end() && ft->first[0] == u'C'; ++ft) {
        if (ft->second.sPortName == name) {
          ft->second.dwFlags &= ~DeviceMapEntry::kUnseen;
          return;
        }
      }
    }
    DeviceMapEntry fresh;
    fresh.sPortName = FieldText(info->PortName);
    fresh.dwFlags = busy ? DeviceMapEntry::kBusy : 0;
    fresh.dwTypeMask = info->TypeMask;
    fresh.sDescription = FieldText(info->Description);
    if (given) StoreData(fresh, bytes, size);
    DeviceMapEntry& e = map.emplace(*key, std::move(fresh)).first->second;
    // The first sweep only learns what is there.
    if ((m_dwFlags & YV_NF_EXIST) && !initial)
      QueueExist(true, info, e.pData.get(), e.nDataSize, info->TypeMask, ip);
    if (outData) *outData = DataOf(e);
    return;
  }

  DeviceMapEntry& e = it->second;
  const bool retyped = given && (!e.pData || FirstWordOf(e) != WordAt(bytes));
  const bool wasBusy = (e.dwFlags & DeviceMapEntry::kBusy) != 0;
  e.dwFlags = busy ? DeviceMapEntry::kBusy : 0;  // seen

  // The entry always takes what the scan found: the map answers hosts'
  // scans, and a removal tells the last port name. Messages about the
  // difference go out only to those who asked for changes.
  uint32_t mask = 0;
  YV_PORT_INFO oldInfo = *info;
  if (wasBusy != busy) {
    mask |= YV_CHG_BUSY;
    oldInfo.Busy = (info->Busy & ~YV_BUSY_INUSE) | (wasBusy ? YV_BUSY_INUSE : 0);
  }
  const std::u16string portName = FieldText(info->PortName);
  if (e.sPortName != portName) {
    mask |= YV_CHG_PORTNAME;
    CopyText(oldInfo.PortName, e.sPortName);
    e.sPortName = portName;
  }
  if (e.dwTypeMask != info->TypeMask) {
    mask |= YV_CHG_TYPEMASK;
    oldInfo.TypeMask = e.dwTypeMask;
    e.dwTypeMask = info->TypeMask;
  }
  const std::u16string description = FieldText(info->Description);
  if (e.sDescription != description) {
    mask |= YV_CHG_DESCRIPTION;
    CopyText(oldInfo.Description, e.sDescription);
    e.sDescription = description;
  }

  const std::vector<uint8_t> previous = DataOf(e);  // the bytes stored before this update
  if (given) {
    mask |= retyped ? kRetyped : DataChanges(e, bytes, size);
    // A new block whenever the size changes too (a type registered again
    // with another size): the old one must not be written past its end.
    if (retyped || e.nDataSize != size)
      StoreData(e, bytes, size);
    else if (size > 0)
      std::memcpy(e.pData.get(), bytes, static_cast<size_t>(size));
  }

  if ((m_dwFlags & YV_NF_CHANGE) && !initial && mask != 0) {
    QueueChange(mask, info, e.pData.get(), e.nDataSize, &oldInfo,
                previous.empty() ? nullptr : previous.data(), static_cast<int32_t>(previous.size()),
                e.dwTypeMask, ip);
  }
  if (outData) *outData = DataOf(e);
}

void CYvDetector::SweepUnseen(bool ip, bool whole) {
  CCritLock lock(m_lib.Lock());
  DeviceMap& map = ip ? m_IpMap : m_SerialMap;
  for (auto it = map.begin(); it != map.end();) {
    DeviceMapEntry& e = it->second;
    if (!(e.dwFlags & DeviceMapEntry::kUnseen)) {
      ++it;
      continue;
    }
    if (m_dwFlags & YV_NF_EXIST) {
      YV_PORT_INFO gone{};
      gone.PortType = it->first[0] - u'A';
      CopyText(gone.Name, std::u16string_view(it->first).substr(1));
      CopyText(gone.PortName, e.sPortName);
      gone.TypeMask = e.dwTypeMask;
      QueueExist(false, &gone, e.pData.get(), e.nDataSize, e.dwTypeMask, ip);
    }
    it = map.erase(it);
  }
  // Only a sweep over every device makes the map a picture of them all; a
  // scan of some ports leaves the others unknown.
  if (whole) m_dwMapsValid |= MapBit(ip);
}

std::vector<MapDevice> CYvDetector::ListFromMap(uint32_t typeMask, const YV_PORT_ID* ports,
                                                int32_t count, bool ip, bool firstOnly) {
  std::vector<MapDevice> out;
  CCritLock lock(m_lib.Lock());
  const DeviceMap& map = ip ? m_IpMap : m_SerialMap;
  auto add = [&](int32_t type, std::u16string_view name, const DeviceMapEntry& e) {
    if (!(e.dwTypeMask & typeMask)) return false;
    MapDevice d{};
    d.info.PortType = type;
    CopyText(d.info.Name, name);
    d.info.Busy = (e.dwFlags & DeviceMapEntry::kBusy) ? YV_BUSY_INUSE : 0;
    CopyText(d.info.PortName, e.sPortName);
    d.info.TypeMask = e.dwTypeMask;
    CopyText(d.info.Description, e.sDescription);
    d.data = DataOf(e);
    out.push_back(std::move(d));
    return true;
  };
  if (ports) {
    for (int32_t i = 0; i < count; ++i) {
      if (!ports[i].Name) continue;
      std::optional<std::u16string> key = MakeDeviceKey(ports[i].PortType, ports[i].Name);
      if (!key) continue;
      auto it = map.find(*key);
      if (it != map.end() && add(ports[i].PortType, ports[i].Name, it->second) && firstOnly) break;
    }
  } else {
    for (const auto& [key, e] : map)
      if (add(key[0] - u'A', std::u16string_view(key).substr(1), e) && firstOnly) break;
  }
  return out;
}

// ---- The detector's rescans ----------------------------------------------

YV_BOOL CYvDetector::RescanContext::Update(const void* devData, const YV_PORT_INFO* info,
                                           bool ip) {
  try {
    detector->UpdateDevice(devData, nullptr, info, ip);
  } catch (...) {
    failure = std::current_exception();
    return 0;
  }
  return detector->m_bRunning ? 1 : 0;
}

YV_BOOL YV_CALL CYvDetector::OnSerialPortListed(const YV_PORT_INFO* Info, void* UserData) {
  return static_cast<RescanContext*>(UserData)->Update(nullptr, Info, false);
}

YV_BOOL YV_CALL CYvDetector::OnSerialDeviceProbed(const void* DevData, const YV_PORT_INFO* Info,
                                                  void* UserData) {
  return static_cast<RescanContext*>(UserData)->Update(DevData, Info, false);
}

YV_BOOL YV_CALL CYvDetector::OnIpDeviceScanned(const void* DevData, const YV_PORT_INFO* Info,
                                               void* UserData) {
  return static_cast<RescanContext*>(UserData)->Update(DevData, Info, true);
}

YV_BOOL YV_CALL CYvDetector::AllIpDevicesSeen(const void*, const YV_PORT_INFO*, void* UserData) {
  CYvDetector* d = static_cast<RescanContext*>(UserData)->detector;
  CCritLock lock(d->m_lib.Lock());
  for (const auto& entry : d->m_IpMap)
    if (entry.second.dwFlags & DeviceMapEntry::kUnseen) return 0;
  return d->m_bRunning ? 1 : 0;
}

namespace {

// Counts a rescan once it is over, messages queued, whatever its outcome.
struct RescanCounter {
  std::recursive_mutex& lock;
  uint32_t& counter;
  ~RescanCounter() {
    CCritLock hold(lock);
    ++counter;
  }
};

bool Completed(HRESULT hr) { return !YV_FAILED(hr) && hr != YV_S_CANCELED; }

}  // namespace

void CYvDetector::RescanSerialDevices() {
  RescanCounter counted{m_lib.Lock(), m_nSerialRescans};
  MarkAllUnseen(nullptr, 0, false);
  bool probe;
  {
    CCritLock lock(m_lib.Lock());
    probe = (m_dwFlags & YV_NF_PROBE) != 0;
  }
  RescanContext ctx{this, nullptr};
  HRESULT hr;
  if (probe) {
    const YV_SCAN_PARAMS params{1000, 2, m_hPauseEvent->Fd(), 500, 0};
    hr = ScanSerialDevices(m_lib, 0, OnSerialDeviceProbed, kAllTypes, nullptr, &ctx, params);
  } else {
    hr = ReportSerialPorts(m_lib, kAllTypes, OnSerialPortListed, &ctx);
  }
  if (ctx.failure) std::rethrow_exception(ctx.failure);
  // A scan that failed, was aborted by a pause or stopped with the detector
  // did not reach every device: nothing is swept, and the next rescan
  // marks the map afresh.
  if (!Completed(hr)) return;
  SweepUnseen(false);
  CCritLock lock(m_lib.Lock());
  m_nCurSerialInterval = m_nSerialInterval;
}

void CYvDetector::RescanIpDevices() {
  RescanCounter counted{m_lib.Lock(), m_nIpRescans};
  MarkAllUnseen(nullptr, 0, true);
  RescanContext ctx{this, nullptr};
  const YV_SCAN_PARAMS params{1000, 2, m_hPauseEvent->Fd(), 0, 0};
  const HRESULT hr = ScanIpDevices(m_lib, &ctx, params, kAllTypes, OnIpDeviceScanned, AllIpDevicesSeen);
  if (ctx.failure) std::rethrow_exception(ctx.failure);
  if (Completed(hr)) SweepUnseen(true);
}

// ---- The library's device scans ------------------------------------------

YV_BOOL YV_CALL MapScan::OnDevice(const void* DevData, const YV_PORT_INFO* Info, void* UserData) {
  auto* s = static_cast<MapScan*>(UserData);
  std::vector<uint8_t> copy;
  try {
    s->m_detector.UpdateDevice(DevData, &copy, Info, s->m_ip);
  } catch (...) {
    s->m_failure = std::current_exception();
    return 0;
  }
  // The scan asks every registered type; the host hears of its own.
  if (!DevData || !Info) return 1;
  const int32_t index = WordAt(static_cast<const uint8_t*>(DevData));
  if (index < 0 || index >= kTypeSlots || !(s->m_typeMask & (1u << index))) return 1;
  // The map's copy when it keeps one; else the scan's own block, so that a
  // device the map keeps no data for still reaches the host, as it would
  // without a detector.
  return s->m_callback(copy.empty() ? DevData : copy.data(), Info, s->m_user);
}

namespace {

// A reference on the detector for the length of a library scan.
class DetectorRef {
 public:
  explicit DetectorRef(CYvLib& lib) : m_det(static_cast<CYvDetector*>(AcquireDetector(lib))) {}
  ~DetectorRef() {
    if (m_det) m_det->Release();
  }
  DetectorRef(const DetectorRef&) = delete;
  DetectorRef& operator=(const DetectorRef&) = delete;
  CYvDetector* get() const { return m_det; }

 private:
  CYvDetector* m_det;
};

// A name that a port info cannot carry can be in no map.
bool NamesFit(const YV_PORT_ID* ports, int32_t count) {
  for (int32_t i = 0; ports && i < count; ++i) {
    size_t n = 0;
    while (n <= kMaxName && ports[i].Name[n]) ++n;
    if (n > kMaxName) return false;
  }
  return true;
}

HRESULT AnswerFromMap(CYvDetector& det, bool ip, uint32_t typeMask, const YV_PORT_ID* ports,
                      int32_t count, YV_ENUM_DEVICES_CALLBACK callback, void* user) {
  if (!NamesFit(ports, count)) return E_INVALIDARG;
  // Taken under the lock, told after it: the host's callback may call the
  // library again, rescan the map or wait for a thread that uses it.
  for (const MapDevice& d : det.ListFromMap(typeMask, ports, count, ip, false))
    if (!callback(d.data.empty() ? nullptr : d.data.data(), &d.info, user)) return YV_S_CANCELED;
  return S_OK;
}

// A scan through the map, with the detector's own scans paused meanwhile.
template <class Scan>
HRESULT RescanThroughMap(CYvLib& lib, CYvDetector& det, bool ip, const YV_PORT_ID* ports,
                         int32_t count, uint32_t typeMask, YV_ENUM_DEVICES_CALLBACK callback,
                         void* user, Scan scan) {
  DetectorPauseScope pause(lib);
  det.MarkAllUnseen(ports, count, ip);
  MapScan sink(det, ip, typeMask, callback, user);
  const HRESULT hr = scan(sink);
  sink.RethrowFailure();
  if (!Completed(hr)) return hr;
  det.SweepUnseen(ip, /*whole=*/ports == nullptr);
  return hr;
}

}  // namespace

HRESULT RunEnumSerialDevices(CYvLib& lib, uint32_t TypeMask, const YV_PORT_ID* Ports,
                             int32_t PortCount, YV_ENUM_DEVICES_CALLBACK Callback, void* UserData,
                             const YV_SCAN_PARAMS& Params, bool Rescan) {
  const int32_t count = Ports ? PortCount : 0;
  DetectorRef det(lib);
  if (!det.get()) return ScanSerialDevices(lib, count, Callback, TypeMask, Ports, UserData, Params);
  if (!Rescan) return AnswerFromMap(*det.get(), false, TypeMask, Ports, count, Callback, UserData);
  return RescanThroughMap(lib, *det.get(), false, Ports, count, TypeMask, Callback, UserData,
                          [&](MapScan& sink) {
                            return ScanSerialDevices(lib, count, MapScan::OnDevice, kAllTypes, Ports,
                                                     &sink, Params);
                          });
}

HRESULT RunFindSerialDevice(CYvLib& lib, uint32_t TypeMask, const YV_PORT_ID* Ports,
                            int32_t PortCount, void* DevData, int32_t DevDataSize,
                            YV_PORT_INFO* Info, const YV_SCAN_PARAMS& Params, bool Rescan) {
  const int32_t count = Ports ? PortCount : 0;
  DetectorRef det(lib);
  if (det.get() && !Rescan) {
    if (!NamesFit(Ports, count)) return E_INVALIDARG;
    std::vector<MapDevice> found = det.get()->ListFromMap(TypeMask, Ports, count, false, true);
    if (found.empty()) return YV_S_NOT_FOUND;
    if (Info) *Info = found[0].info;
    const size_t n = std::min(static_cast<size_t>(DevDataSize), found[0].data.size());
    if (n) std::memcpy(DevData, found[0].data.data(), n);
    return S_OK;
  }
  // The map is not updated: the first device found ends the scan, so the
  // map could not tell what is gone.
  DetectorPauseScope pause(lib);
  return FindSerialDeviceScan(lib, count, DevData, TypeMask, Ports, Info, DevDataSize, Params);
}

HRESULT RunEnumIpDevices(CYvLib& lib, uint32_t TypeMask, YV_ENUM_DEVICES_CALLBACK Callback,
                         void* UserData, const YV_SCAN_PARAMS& Params, bool Rescan) {
  DetectorRef det(lib);
  if (!det.get()) return ScanIpDevices(lib, UserData, Params, TypeMask, Callback, nullptr);
  if (!Rescan) return AnswerFromMap(*det.get(), true, TypeMask, nullptr, 0, Callback, UserData);
  return RescanThroughMap(lib, *det.get(), true, nullptr, 0, TypeMask, Callback, UserData,
                          [&](MapScan& sink) {
                            return ScanIpDevices(lib, &sink, Params, kAllTypes, MapScan::OnDevice,
                                                 nullptr);
                          });
}

}  // namespace ylvane
