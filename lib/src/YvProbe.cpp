#include "YvProbe.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "YvHandOff.h"
#include "YvLib.h"
#include "YvPort.h"
#include "sys/WaitSet.h"

namespace ylvane {

namespace {

constexpr uint32_t PROBE_ANSWERED = 0x1;  // data came in the first of two wait phases
constexpr uint32_t PROBE_DONE = 0x2;      // the port is decided

constexpr size_t kMaxName = 31;  // room of YV_PORT_INFO's names

struct PortRelease {
  void operator()(IYvPort* p) const { p->Release(); }
};
using PortRef = std::unique_ptr<IYvPort, PortRelease>;

// One distinct probe setting: the types of the mask whose requests and line
// settings agree share it, so such a port hears one request per attempt.
struct ProbeVariant {
  uint32_t dwBaud = 0;
  uint8_t bStopBits = 0;
  char chEvChar = 0;
  const uint8_t* pReqData = nullptr;  // the type table's copy
  int32_t nReqSize = 0;
  uint32_t dwTypeMask = 0;
};

struct ProbePortState {
  uint32_t dwTypeMask = 0;
  int32_t nKind = 0;
  std::u16string sSerial;
  std::u16string sPortName;
  int32_t nBusy = 0;
  PortRef pPort;
  int32_t nVariant = -1;
  int32_t nRound = 0;
  int hRxEvent = -1;
  std::vector<uint8_t> sReply;  // bytes since the current attempt's request
  uint32_t dwCandidates = 0;
  uint32_t dwState = 0;
  // The receive event can be waited on; false once re-arming it failed
  // (the device went away): its bytes are then taken after the wait.
  bool bWaitable = false;
};

std::vector<ProbeVariant> BuildVariants(const ProbeTypeTable& types, uint32_t TypeMask) {
  std::vector<ProbeVariant> out;
  for (int i = 0; i < kTypeSlots; ++i) {
    const ProbeTypeTable::Slot& s = types.slots[i];
    if (!(TypeMask & (1u << i)) || !s.registered || s.pReqData.empty() || !s.pfnCallback)
      continue;
    auto same = std::find_if(out.begin(), out.end(), [&](const ProbeVariant& v) {
      return v.dwBaud == s.dwBaud && v.bStopBits == s.bStopBits && v.chEvChar == s.chEvChar &&
             v.nReqSize == static_cast<int32_t>(s.pReqData.size()) &&
             std::memcmp(v.pReqData, s.pReqData.data(), s.pReqData.size()) == 0;
    });
    if (same != out.end()) {
      same->dwTypeMask |= 1u << i;
      continue;
    }
    ProbeVariant v;
    v.dwBaud = s.dwBaud;
    v.bStopBits = s.bStopBits;
    v.chEvChar = s.chEvChar;
    v.pReqData = s.pReqData.data();
    v.nReqSize = static_cast<int32_t>(s.pReqData.size());
    v.dwTypeMask = 1u << i;
    out.push_back(v);
  }
  return out;
}

// The callbacks of one scan: the device-data block, the info record and the
// host's callback.
class ProbeScan {
 public:
  ProbeScan(const ProbeTypeTable& types, YV_ENUM_DEVICES_CALLBACK host, void* user, int abortFd)
      : m_types(types),
        m_host(host),
        m_user(user),
        m_abortFd(abortFd),
        m_block(LargestDevData(types)) {}

  // Offers a port to every type of its mask without a reply; the first
  // type that recognises it decides it.
  HRESULT ReportWithoutReply(ProbePortState& port) {
    for (int i = 0; i < kTypeSlots; ++i) {
      const ProbeTypeTable::Slot& s = m_types.slots[i];
      if (!(port.dwTypeMask & (1u << i)) || !s.registered || !s.pfnCallback) continue;
      HRESULT status = YV_S_NOT_FOUND;
      const bool recognised = Ask(port, i, nullptr, 0, &status);
      if (sys::AbortSignalled(m_abortFd)) return E_ABORT;
      if (recognised) return m_block.Report(i, m_info, m_host, m_user);
    }
    return S_OK;
  }

  // Takes what the port has received and asks the candidate types about
  // the attempt's bytes. waiting: the wait still runs; *allRejected then
  // tells whether every candidate said "not this type".
  HRESULT ProcessProbeReply(ProbePortState& port, bool waiting, bool* allRejected) {
    if (allRejected) *allRejected = false;
    bool grew = false;
    int32_t count = 0;
    if (port.pPort && port.pPort->GetInCount(&count) == S_OK && count > 0) {
      const size_t old = port.sReply.size();
      port.sReply.resize(old + static_cast<size_t>(count));
      int32_t got = 0;
      if (port.pPort->Read(port.sReply.data() + old, count, &got) != S_OK) got = 0;
      port.sReply.resize(old + static_cast<size_t>(std::clamp(got, 0, count)));
      grew = port.sReply.size() > old;
    }
    if (port.sReply.empty()) return S_OK;
    // A wake-up that brought nothing new (the re-arm that follows a read)
    // would only ask the same question again.
    if (waiting && !grew) return S_OK;
    bool rejected = true;
    for (int i = 0; i < kTypeSlots; ++i) {
      const uint32_t bit = 1u << i;
      if (!(port.dwCandidates & bit) || !m_types.slots[i].pfnCallback) continue;
      HRESULT status = waiting ? S_OK : YV_S_NOT_FOUND;
      const bool recognised =
          Ask(port, i, port.sReply.data(), static_cast<int32_t>(port.sReply.size()), &status);
      if (sys::AbortSignalled(m_abortFd)) return E_ABORT;
      if (recognised) {
        // Given back before the host hears of it, so the host can open it.
        port.pPort.reset();
        port.dwState |= PROBE_DONE;
        return m_block.Report(i, m_info, m_host, m_user);
      }
      if (status == YV_S_NOT_FOUND)
        port.dwCandidates &= ~bit;
      else if (waiting)
        rejected = false;
    }
    if (allRejected) *allRejected = waiting && rejected;
    return S_OK;
  }

 private:
  // Any registered type may be asked: a port's mask from the listing can
  // name types outside the scan's mask.
  static int32_t LargestDevData(const ProbeTypeTable& types) {
    int32_t size = 0;
    for (const auto& s : types.slots)
      if (s.registered) size = std::max(size, s.nDevDataSize);
    return size;
  }

  // A type callback may end the scan from inside (a pause, a stop of the
  // detector whose rescan this is): the caller looks at the abort event as
  // soon as it returns, so that no host is called after that.
  bool Ask(const ProbePortState& port, int slot, const void* reply, int32_t size,
           HRESULT* status) {
    m_block.Prepare(slot, m_info);
    m_info.PortType = port.nKind;
    CopyPortName(m_info.Name, port.sSerial);
    CopyPortName(m_info.PortName, port.sPortName);
    m_info.TypeMask = port.dwTypeMask;
    m_info.Busy = port.nBusy;
    return m_types.slots[slot].pfnCallback(reply, size, status, m_block.Data(), &m_info, m_host,
                                           m_user) != 0;
  }

  const ProbeTypeTable& m_types;
  YV_ENUM_DEVICES_CALLBACK m_host;
  void* m_user;
  int m_abortFd;
  DevDataBlock m_block;
  YV_PORT_INFO m_info{};
};

class ProbeEngine {
 public:
  ProbeEngine(const ProbeTypeTable& types, YV_ENUM_DEVICES_CALLBACK host, void* user,
              uint32_t TypeMask, const std::vector<SerialDeviceRecord>& records,
              const YV_SCAN_PARAMS& params)
      : m_params(CapTries(params)), m_scan(types, host, user, params.AbortEvent) {
    m_ports.resize(records.size());
    for (size_t i = 0; i < records.size(); ++i) {
      ProbePortState& p = m_ports[i];
      p.dwTypeMask = records[i].dwTypeMask;
      p.nKind = records[i].nKind;
      p.sSerial = records[i].sSerial;
      p.sPortName = records[i].sPortName;
      p.nBusy = records[i].nBusy;
    }
    m_variants = BuildVariants(types, TypeMask);
    for (const ProbeVariant& v : m_variants) m_variantTypes |= v.dwTypeMask;
  }

  HRESULT Run() {
    if (m_variants.empty()) {
      for (ProbePortState& p : m_ports)
        if (HRESULT hr = m_scan.ReportWithoutReply(p)) return hr;
      return S_OK;
    }
    m_remaining = m_ports.size();
    while (m_remaining > 0) {
      std::vector<size_t> list;
      for (size_t i = 0; i < m_ports.size(); ++i) {
        if (m_ports[i].dwState & PROBE_DONE) continue;
        bool attempt = false;
        if (HRESULT hr = StartAttempt(m_ports[i], &attempt)) return hr;
        if (attempt) list.push_back(i);
      }
      if (m_remaining == 0 || list.empty()) break;
      if (HRESULT hr = Wait(list)) return hr;
      if (m_remaining == 0) break;
      for (size_t i : list) {
        ProbePortState& p = m_ports[i];
        if (p.dwState & PROBE_DONE) continue;
        HRESULT hr = m_scan.ProcessProbeReply(p, /*waiting=*/false, nullptr);
        if (p.dwState & PROBE_DONE) --m_remaining;
        if (hr) return hr;
        if (m_remaining == 0) break;
      }
    }
    return S_OK;
  }

 private:
  // Decides a port that no reply recognised: it is given back (so that a
  // host told about it can open it) and offered to its types without reply.
  HRESULT DecideWithoutReply(ProbePortState& p) {
    p.dwState |= PROBE_DONE;
    p.pPort.reset();
    --m_remaining;
    return m_scan.ReportWithoutReply(p);
  }

  // The next variant of the port's attempts; false once Tries passes are
  // used up. Only variants that share a type with the port count.
  bool NextVariant(ProbePortState& p) {
    for (;;) {
      if (++p.nVariant >= static_cast<int32_t>(m_variants.size())) {
        p.nVariant = 0;
        // Compared as "at least": a Tries of 0 or below gives one pass
        // instead of passes without end.
        if (++p.nRound >= m_params.Tries) return false;
      }
      if (m_variants[p.nVariant].dwTypeMask & p.dwTypeMask) return true;
    }
  }

  // Opens the port of a record for an attempt. An FTDI device that the
  // driver library cannot open (the library is missing, or the kernel's own
  // serial driver holds the device) is reached through the tty it appears
  // as; the record, and what the host is told, stay the FTDI device's. Busy
  // when either way says so and neither opens.
  static HRESULT OpenForAttempt(const ProbePortState& p, const ProbeVariant& v, IYvPort** port) {
    HRESULT hr = CreatePort(p.sSerial.c_str(), port, p.nKind, v.dwBaud, v.chEvChar, v.bStopBits);
    if (!YV_FAILED(hr) || p.nKind != YV_PORT_FT || p.sPortName.empty()) return hr;
    const HRESULT tty =
        CreatePort(p.sPortName.c_str(), port, YV_PORT_COM, v.dwBaud, v.chEvChar, v.bStopBits);
    if (!YV_FAILED(tty)) return tty;
    return hr == YV_E_PORT_BUSY || tty == YV_E_PORT_BUSY ? YV_E_PORT_BUSY : hr;
  }

  // Writes the port's next request; *attempt tells whether the port now
  // waits for a reply (else it was decided).
  HRESULT StartAttempt(ProbePortState& p, bool* attempt) {
    *attempt = false;
    // A busy port is never opened; a port no variant fits has nothing to
    // hear, however many passes are allowed.
    if ((p.nBusy & 1) || !(p.dwTypeMask & m_variantTypes)) return DecideWithoutReply(p);
    for (;;) {
      if (!NextVariant(p)) return DecideWithoutReply(p);
      const ProbeVariant& v = m_variants[p.nVariant];
      uint32_t previousBaud = 0;
      const bool wasOpen = p.pPort != nullptr;
      if (!wasOpen) {
        IYvPort* port = nullptr;
        HRESULT hr = OpenForAttempt(p, v, &port);
        if (hr == YV_E_PORT_BUSY) {
          p.nBusy |= 1;
          return DecideWithoutReply(p);
        }
        if (YV_FAILED(hr)) continue;
        p.pPort.reset(port);
      } else if (YV_FAILED(p.pPort->GetBaudAndEvChar(&previousBaud, nullptr)) ||
                 YV_FAILED(p.pPort->SetBaudAndEvChar(v.dwBaud, v.chEvChar))) {
        continue;
      }
      if (YV_FAILED(p.pPort->Clear(1, 1)) || YV_FAILED(p.pPort->StartWaitEvent(&p.hRxEvent)) ||
          YV_FAILED(p.pPort->Write(v.pReqData, v.nReqSize)))
        continue;
      // A device still listening at the old, lower rate may have taken the
      // first request for noise: it hears the request once more.
      if (wasOpen && previousBaud < v.dwBaud) p.pPort->Write(v.pReqData, v.nReqSize);
      p.dwCandidates = v.dwTypeMask & p.dwTypeMask;
      p.sReply.clear();
      p.dwState &= ~PROBE_ANSWERED;
      p.bWaitable = true;
      *attempt = true;
      return S_OK;
    }
  }

  // One port's receive event fired: re-arm it, then, in the last phase,
  // judge what came.
  HRESULT OnSignal(ProbePortState& p, bool lastPhase) {
    if (YV_FAILED(p.pPort->StartWaitEvent(&p.hRxEvent))) p.bWaitable = false;
    if (!lastPhase) {
      p.dwState |= PROBE_ANSWERED;
      return S_OK;
    }
    bool allRejected = false;
    HRESULT hr = m_scan.ProcessProbeReply(p, /*waiting=*/true, &allRejected);
    if (p.dwState & PROBE_DONE) {
      --m_remaining;
      return hr;
    }
    if (hr) return hr;
    if (allRejected) return DecideWithoutReply(p);
    return S_OK;
  }

  // The wait of one cycle over the ports of list, in one or two phases
  // whose limits count from its start.
  HRESULT Wait(std::vector<size_t> list) {
    const auto start = std::chrono::steady_clock::now();
    const bool twoPhases = m_params.FirstPhaseTimeout < m_params.ReplyTimeout;
    const uint32_t limits[2] = {twoPhases ? m_params.FirstPhaseTimeout : m_params.ReplyTimeout,
                                m_params.ReplyTimeout};
    const int phases = twoPhases ? 2 : 1;
    const int abortFd = m_params.AbortEvent;
    sys::WaitSet set;
    std::vector<size_t> polled;
    for (int phase = 0; phase < phases; ++phase) {
      const bool last = phase == phases - 1;
      const auto deadline = start + std::chrono::milliseconds(limits[phase]);
      // The second phase waits only for the ports that answered in the
      // first, and handles them at once; the others are read after it.
      std::vector<size_t> atOnce;
      if (phase == 1) {
        std::erase_if(list, [&](size_t i) { return !(m_ports[i].dwState & PROBE_ANSWERED); });
        atOnce = list;
      }
      for (;;) {
        if (std::chrono::steady_clock::now() >= deadline) break;
        if (!atOnce.empty()) {
          ProbePortState& p = m_ports[atOnce.front()];
          atOnce.erase(atOnce.begin());
          if (p.dwState & PROBE_DONE) continue;
          if (HRESULT hr = OnSignal(p, last)) return hr;
          if (m_remaining == 0) return S_OK;
          continue;
        }
        set.Clear();
        polled.clear();
        for (size_t i : list) {
          const ProbePortState& p = m_ports[i];
          // A port that answered in the first phase waits for the second;
          // its event would only fire again until its bytes are read.
          if ((p.dwState & PROBE_DONE) || !p.bWaitable || (!last && (p.dwState & PROBE_ANSWERED)))
            continue;
          set.Add(p.hRxEvent);
          polled.push_back(i);
        }
        if (polled.empty()) break;
        const size_t abortAt = abortFd > 0 ? set.Add(abortFd) : SIZE_MAX;
        const sys::WaitSet::Result waited = set.Wait(sys::MsLeft(deadline, m_params.WaitSlice));
        // Refused outright it would be refused again until the deadline.
        if (waited == sys::WaitSet::Result::Failed) return E_FAIL;
        if (waited != sys::WaitSet::Result::Ready) continue;
        if (abortAt != SIZE_MAX && set.Ready(abortAt))
          return set.Invalid(abortAt) ? E_INVALIDARG : E_ABORT;
        for (size_t k = 0; k < polled.size(); ++k) {
          if (!set.Ready(k)) continue;
          ProbePortState& p = m_ports[polled[k]];
          if (p.dwState & PROBE_DONE) continue;
          if (set.Invalid(k)) p.bWaitable = false;
          if (HRESULT hr = OnSignal(p, last)) return hr;
          if (m_remaining == 0) return S_OK;
        }
      }
    }
    return S_OK;
  }

  const YV_SCAN_PARAMS m_params;
  ProbeScan m_scan;
  std::vector<ProbePortState> m_ports;
  std::vector<ProbeVariant> m_variants;
  uint32_t m_variantTypes = 0;
  size_t m_remaining = 0;
};

bool NameFits(const char16_t* name) {
  return std::char_traits<char16_t>::length(name) <= kMaxName;
}

// The records of a scan: the caller's port list, or the listing's ports of
// the mask.
HRESULT ScanRecords(CYvLib& lib, int32_t PortCount, uint32_t TypeMask, const YV_PORT_ID* Ports,
                    std::vector<SerialDeviceRecord>& records) {
  if (!Ports) return EnumSerialDeviceRecords(records, SerialTypeTable::Take(lib), TypeMask);
  // A name the port info cannot carry whole would reach the host cut short,
  // naming another port.
  for (int32_t i = 0; i < PortCount; ++i)
    if (!Ports[i].Name || !NameFits(Ports[i].Name)) return E_INVALIDARG;
  records.resize(static_cast<size_t>(PortCount));
  for (int32_t i = 0; i < PortCount; ++i) {
    SerialDeviceRecord& r = records[i];
    r.nKind = Ports[i].PortType;
    r.sSerial = Ports[i].Name;
    // Bit 1: the port came from the caller's list; bit 0 clear: probe it.
    r.nBusy = 2;
    r.dwTypeMask = TypeMask;
  }
  return S_OK;
}

}  // namespace

DevDataBlock::DevDataBlock(int32_t largest)
    : m_data(std::max<size_t>(16, largest > 0 ? static_cast<size_t>(largest) : 0)) {}

void DevDataBlock::Prepare(int slot, YV_PORT_INFO& info) {
  std::fill(m_data.begin(), m_data.end(), 0);
  const int32_t index = slot;
  std::memcpy(m_data.data(), &index, sizeof index);
  info = YV_PORT_INFO{};
}

HRESULT DevDataBlock::Report(int slot, YV_PORT_INFO& info, YV_ENUM_DEVICES_CALLBACK host,
                             void* user) {
  constexpr int32_t kDoNotReport = -1;  // a callback's mark in the block's first int32
  int32_t first;
  std::memcpy(&first, m_data.data(), sizeof first);
  if (first == kDoNotReport) return S_OK;
  // The first int32 of a reported block names the recognising type, even
  // when its callback wrote something else there.
  first = slot;
  std::memcpy(m_data.data(), &first, sizeof first);
  info.Description[63] = 0;  // the callback's text, terminated whatever it wrote
  if (host && !host(m_data.data(), &info, user)) return YV_S_CANCELED;
  return S_OK;
}

ProbeTypeTable ProbeTypeTable::Take(CYvLib& lib) {
  ProbeTypeTable t;
  CCritLock lock(lib.Lock());
  for (int i = 0; i < kTypeSlots; ++i) {
    const SerialTypeSlot* slot = lib.SerialType(i);
    if (!slot) continue;
    Slot& s = t.slots[i];
    s.registered = true;
    s.pfnCallback = slot->pfnCallback;
    if (slot->CanProbe()) s.pReqData = slot->pReqData;
    s.nDevDataSize = slot->nReplySize;
    s.dwBaud = slot->dwBaud;
    s.bStopBits = slot->bStopBits;
    s.chEvChar = slot->chEvChar;
  }
  return t;
}

HRESULT ProbeSerialDevices(const ProbeTypeTable& types, YV_ENUM_DEVICES_CALLBACK HostCallback,
                           void* UserData, uint32_t TypeMask,
                           const std::vector<SerialDeviceRecord>& records,
                           const YV_SCAN_PARAMS& Params) {
  ProbeEngine engine(types, HostCallback, UserData, TypeMask, records, Params);
  return engine.Run();
}

YV_BOOL YV_CALL CopyFirstFound(const void* DevData, const YV_PORT_INFO* Info, void* Context) {
  auto& found = *static_cast<FirstFound*>(Context);
  if (found.pInfo) *found.pInfo = *Info;
  int32_t slot = -1;
  std::memcpy(&slot, DevData, sizeof slot);
  const int32_t typeSize =
      slot >= 0 && slot < kTypeSlots ? found.pTypes->slots[slot].nDevDataSize : 0;
  const int32_t n = std::min(typeSize, found.nDataSize);
  if (n > 0) std::memcpy(found.pData, DevData, static_cast<size_t>(n));
  found.bFound = true;
  return 0;
}

HRESULT ScanSerialDevices(CYvLib& lib, int32_t PortCount, YV_ENUM_DEVICES_CALLBACK Callback,
                          uint32_t TypeMask, const YV_PORT_ID* Ports, void* UserData,
                          const YV_SCAN_PARAMS& Params) {
  std::vector<SerialDeviceRecord> records;
  if (HRESULT hr = ScanRecords(lib, PortCount, TypeMask, Ports, records); YV_FAILED(hr))
    return hr;
  if (records.empty()) return S_OK;
  return ProbeSerialDevices(ProbeTypeTable::Take(lib), Callback, UserData, TypeMask, records,
                            Params);
}

HRESULT FindSerialDeviceScan(CYvLib& lib, int32_t PortCount, void* DevData, uint32_t TypeMask,
                             const YV_PORT_ID* Ports, YV_PORT_INFO* Info, int32_t DevDataSize,
                             const YV_SCAN_PARAMS& Params) {
  std::vector<SerialDeviceRecord> records;
  if (HRESULT hr = ScanRecords(lib, PortCount, TypeMask, Ports, records); YV_FAILED(hr))
    return hr;
  if (Info) Info->PortType = 0;  // kept when nothing is found
  const ProbeTypeTable types = ProbeTypeTable::Take(lib);
  FirstFound found;
  found.pInfo = Info;
  found.pData = DevData;
  found.nDataSize = DevDataSize;
  found.pTypes = &types;
  HRESULT hr = ProbeSerialDevices(types, CopyFirstFound, &found, TypeMask, records, Params);
  if (YV_FAILED(hr)) return hr;
  return found.bFound ? S_OK : YV_S_NOT_FOUND;
}

}  // namespace ylvane
