#include "YvIpScan.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>

#include "YvHandOff.h"
#include "YvLib.h"
#include "YvPortEnum.h"
#include "YvProbe.h"
#include "sys/Udp.h"
#include "sys/WaitSet.h"

namespace ylvane {

namespace {

constexpr size_t kReceiveBuffer = 1024;
// Datagrams taken from one socket per wake-up. A sender that never stops
// would otherwise keep the scan reading past its reply time and deaf to its
// abort event, both of which are looked at only between wake-ups.
constexpr int kDatagramsPerWake = 64;

// The types registered on one UDP port.
struct UdpPortTypes {
  uint16_t wPort = 0;
  uint32_t dwTypeMask = 0;
};

// Types whose requests are byte for byte the same share one broadcast,
// whatever their UDP ports.
struct IpRequestGroup {
  const uint8_t* pReqData = nullptr;  // the type table's copy
  int32_t nReqSize = 0;
  uint32_t dwTypeMask = 0;
};

// One local address and one UDP port: the socket the requests to that port
// leave from.
struct IpScanEntry {
  uint32_t dwLocalAddr = 0;  // network byte order
  uint16_t wPort = 0;
  uint32_t dwTypeMask = 0;  // the types registered on the port
  std::unique_ptr<sys::UdpSocket> socket = std::make_unique<sys::UdpSocket>();
};

class IpScan {
 public:
  IpScan(const IpTypeTable& types, uint32_t TypeMask, YV_ENUM_DEVICES_CALLBACK host, void* user,
         const YV_SCAN_PARAMS& params)
      : m_types(types), m_host(host), m_user(user), m_params(CapTries(params)), m_block(0) {
    std::vector<UdpPortTypes> ports;
    int32_t largest = 0;
    for (int i = 0; i < kTypeSlots; ++i) {
      const IpTypeTable::Slot& s = types.slots[i];
      if (!(TypeMask & (1u << i)) || !s.registered || !s.pfnCallback || s.pReqData.empty())
        continue;
      const uint32_t bit = 1u << i;
      largest = std::max(largest, s.nDevDataSize);
      auto port = std::find_if(ports.begin(), ports.end(),
                               [&](const UdpPortTypes& p) { return p.wPort == s.wUdpPort; });
      if (port == ports.end())
        ports.push_back({s.wUdpPort, bit});
      else
        port->dwTypeMask |= bit;
      auto group = std::find_if(m_groups.begin(), m_groups.end(), [&](const IpRequestGroup& g) {
        return g.nReqSize == static_cast<int32_t>(s.pReqData.size()) &&
               std::memcmp(g.pReqData, s.pReqData.data(), s.pReqData.size()) == 0;
      });
      if (group == m_groups.end())
        m_groups.push_back({s.pReqData.data(), static_cast<int32_t>(s.pReqData.size()), bit});
      else
        group->dwTypeMask |= bit;
    }
    if (m_groups.empty()) return;
    for (uint32_t addr : sys::LocalBroadcastAddresses()) {
      for (const UdpPortTypes& p : ports) {
        IpScanEntry e;
        e.dwLocalAddr = addr;
        e.wPort = p.wPort;
        e.dwTypeMask = p.dwTypeMask;
        m_entries.push_back(std::move(e));
      }
    }
    m_block = DevDataBlock(largest);
  }

  ~IpScan() { CloseScanSockets(); }

  HRESULT Run(YV_ENUM_DEVICES_CALLBACK tryCallback) {
    if (m_groups.empty()) return S_OK;
    for (int32_t round = 0; round < m_params.Tries; ++round) {
      for (const IpRequestGroup& g : m_groups) {
        bool sent = false;
        if (HRESULT hr = Broadcast(g, &sent)) return hr;
        // Nothing could be sent: the rest of this try would fare no better.
        if (!sent) break;
      }
      if (tryCallback && tryCallback(nullptr, nullptr, m_user)) return S_OK;
    }
    return S_OK;
  }

 private:
  // Sends the group's request from every entry of its ports and takes the
  // replies for ReplyTimeout.
  HRESULT Broadcast(const IpRequestGroup& g, bool* sent) {
    std::vector<IpScanEntry*> list;
    for (IpScanEntry& e : m_entries) {
      if (!(e.dwTypeMask & g.dwTypeMask)) continue;
      sys::UdpSocket& s = *e.socket;
      // A socket is kept from one group and try to the next; one that
      // failed is made again here.
      if (!s.IsOpen() && s.Open(e.dwLocalAddr) != 0) continue;
      if (s.Broadcast(g.pReqData, static_cast<size_t>(g.nReqSize), e.wPort) != 0) {
        s.Close();
        continue;
      }
      list.push_back(&e);
    }
    *sent = !list.empty();
    if (list.empty()) return S_OK;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(m_params.ReplyTimeout);
    const int abortFd = m_params.AbortEvent;
    sys::WaitSet set;
    std::vector<IpScanEntry*> polled;
    while (std::chrono::steady_clock::now() < deadline) {
      set.Clear();
      polled.clear();
      for (IpScanEntry* e : list) {
        if (!e->socket->IsOpen()) continue;
        set.Add(e->socket->Fd());
        polled.push_back(e);
      }
      if (polled.empty()) break;
      const size_t abortAt = abortFd > 0 ? set.Add(abortFd) : SIZE_MAX;
      const sys::WaitSet::Result waited = set.Wait(sys::MsLeft(deadline));
      // Refused outright it would be refused again until the deadline.
      if (waited == sys::WaitSet::Result::Failed) return E_FAIL;
      if (waited != sys::WaitSet::Result::Ready) continue;
      if (abortAt != SIZE_MAX && set.Ready(abortAt))
        return set.Invalid(abortAt) ? E_INVALIDARG : E_ABORT;
      for (size_t k = 0; k < polled.size(); ++k) {
        if (!set.Ready(k)) continue;
        if (HRESULT hr = ReceiveIpReply(*polled[k], g)) return hr;
      }
    }
    // What came late (bounded like every other wake-up).
    for (IpScanEntry* e : list)
      if (e->socket->IsOpen())
        if (HRESULT hr = ReceiveIpReply(*e, g)) return hr;
    return S_OK;
  }

  // Offers the datagrams waiting on the entry's socket to the group's types,
  // at most kDatagramsPerWake of them; the rest wait for the next wake-up.
  HRESULT ReceiveIpReply(IpScanEntry& e, const IpRequestGroup& g) {
    uint8_t buf[kReceiveBuffer];
    for (int taken = 0; taken < kDatagramsPerWake; ++taken) {
      size_t size = 0;
      uint32_t from = 0;
      uint16_t fromPort = 0;
      switch (e.socket->Receive(buf, sizeof buf, &size, &from, &fromPort)) {
        case sys::UdpSocket::Received::Nothing:
          return S_OK;
        case sys::UdpSocket::Received::Failed:
          e.socket->Close();
          return S_OK;
        case sys::UdpSocket::Received::Datagram:
          break;
      }
      // A datagram cut to the buffer could be taken for something else.
      if (size > sizeof buf) continue;
      if (std::binary_search(m_seen.begin(), m_seen.end(), from)) continue;
      const std::u16string name = sys::AddressText(from, fromPort);
      for (int i = 0; i < kTypeSlots; ++i) {
        if (!(g.dwTypeMask & (1u << i))) continue;
        m_block.Prepare(i, m_info);
        m_info.PortType = YV_PORT_IP;
        m_info.TypeMask = g.dwTypeMask;
        CopyPortName(m_info.Name, name);
        HRESULT status = S_OK;
        const bool recognised = m_types.slots[i].pfnCallback(buf, static_cast<int32_t>(size),
                                                             &status, m_block.Data(), &m_info,
                                                             m_host, m_user) != 0;
        // The callback may have ended the scan from inside (a pause, a stop
        // of the detector whose rescan this is): no host is called after it.
        if (sys::AbortSignalled(m_params.AbortEvent)) return E_ABORT;
        if (!recognised) continue;
        if (HRESULT hr = m_block.Report(i, m_info, m_host, m_user)) return hr;
        MarkSeen(from);
        break;
      }
    }
    return S_OK;
  }

  // A reply from one of this host's own addresses stands for all of them.
  void MarkSeen(uint32_t from) {
    const bool own = std::any_of(m_entries.begin(), m_entries.end(),
                                 [&](const IpScanEntry& e) { return e.dwLocalAddr == from; });
    if (own) {
      for (const IpScanEntry& e : m_entries) m_seen.push_back(e.dwLocalAddr);
    } else {
      m_seen.push_back(from);
    }
    std::sort(m_seen.begin(), m_seen.end());
    m_seen.erase(std::unique(m_seen.begin(), m_seen.end()), m_seen.end());
  }

  void CloseScanSockets() {
    for (IpScanEntry& e : m_entries) e.socket->Close();
  }

  const IpTypeTable& m_types;
  YV_ENUM_DEVICES_CALLBACK m_host;
  void* m_user;
  const YV_SCAN_PARAMS m_params;
  std::vector<IpRequestGroup> m_groups;
  std::vector<IpScanEntry> m_entries;
  std::vector<uint32_t> m_seen;  // senders recognised in this scan, sorted
  DevDataBlock m_block;
  YV_PORT_INFO m_info{};
};

}  // namespace

IpTypeTable IpTypeTable::Take(CYvLib& lib) {
  IpTypeTable t;
  CCritLock lock(lib.Lock());
  for (int i = 0; i < kTypeSlots; ++i) {
    const IpTypeSlot* slot = lib.IpType(i);
    if (!slot) continue;
    Slot& s = t.slots[i];
    s.registered = true;
    s.pfnCallback = slot->pfnCallback;
    s.pReqData = slot->pReqData;
    s.nDevDataSize = slot->nReplySize;
    s.wUdpPort = slot->wUdpPort;
  }
  return t;
}

HRESULT ScanIpDevices(CYvLib& lib, void* UserData, const YV_SCAN_PARAMS& Params,
                      uint32_t TypeMask, YV_ENUM_DEVICES_CALLBACK Callback,
                      YV_ENUM_DEVICES_CALLBACK TryCallback) {
  const IpTypeTable types = IpTypeTable::Take(lib);
  IpScan scan(types, TypeMask, Callback, UserData, Params);
  return scan.Run(TryCallback);
}

}  // namespace ylvane
