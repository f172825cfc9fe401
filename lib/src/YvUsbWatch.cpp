#include "YvUsbWatch.h"

#include <set>

#include "YvSeams.h"
#include "sys/DeviceList.h"
#include "sys/Text.h"
#include "ylvane.h"

namespace ylvane {

namespace {

constexpr uint16_t kFtdiVendor = 0x0403;

CUsbWatch::Clock::duration TtyWait() { return std::chrono::milliseconds(UsbTtyWaitMs()); }

bool IsBelow(const std::string& path, const std::string& dev) {
  return path.size() > dev.size() && path.compare(0, dev.size(), dev) == 0 &&
         path[dev.size()] == '/';
}

}  // namespace

std::unique_ptr<CUsbWatch> CUsbWatch::Open() {
  // The socket first: a device that comes between the look at sysfs and
  // the first read is then told by an event, and one told twice is known.
  auto socket = sys::UeventSocket::Open();
  if (!socket) return nullptr;
  auto watch = std::make_unique<CUsbWatch>();
  watch->m_socket = std::move(socket);
  return watch;
}

CUsbWatch::CUsbWatch() {
  std::vector<UsbDeviceEvent> none;
  Resync(Clock::now(), /*initial=*/true, none);
}

void CUsbWatch::OnReadable(Clock::time_point now, std::vector<UsbDeviceEvent>& out) {
  if (!m_socket) return;
  bool overflowed = false;
  for (const sys::Uevent& ev : m_socket->Receive(&overflowed)) Handle(ev, now, out);
  // Events were lost: sysfs tells what changed meanwhile.
  if (overflowed) Resync(now, /*initial=*/false, out);
}

void CUsbWatch::Handle(const sys::Uevent& ev, Clock::time_point now,
                       std::vector<UsbDeviceEvent>& out) {
  if (ev.subsystem == "usb" && ev.devType == "usb_device") {
    unsigned vendor = 0, product = 0;
    if (!sys::ParseUsbProduct(ev.product, &vendor, &product) || vendor != kFtdiVendor) return;
    if (ev.action == "add") {
      if (m_known.count(ev.devPath)) return;  // told twice
      auto d = sys::UsbDeviceAt(ev.devPath);
      // Opened by its serial number: a device without one cannot be named.
      if (!d || d->vendor != kFtdiVendor || d->serial.empty()) return;
      Known& k = m_known[ev.devPath];
      k.serial = d->serial;
      k.product = d->product;
      k.tty = d->tty;
      k.deadline = now + TtyWait();
      if (!k.tty.empty()) Announce(ev.devPath, k, out);
    } else if (ev.action == "remove") {
      auto it = m_known.find(ev.devPath);
      if (it == m_known.end()) return;
      // A device that left before it was announced is simply forgotten.
      if (it->second.announced) out.push_back(EventOf(YV_DEVICE_REMOVAL, it->first, it->second));
      m_known.erase(it);
    }
    return;
  }
  if (ev.action != "add") return;
  // Something new below a known device, such as its serial port.
  for (auto& [path, k] : m_known) {
    if (!IsBelow(ev.devPath, path)) continue;
    if (k.tty.empty()) {
      if (auto d = sys::UsbDeviceAt(path)) k.tty = d->tty;
    }
    if (!k.announced && !k.tty.empty()) Announce(path, k, out);
    break;
  }
}

void CUsbWatch::Due(Clock::time_point now, std::vector<UsbDeviceEvent>& out) {
  for (auto it = m_known.begin(); it != m_known.end();) {
    Known& k = it->second;
    if (k.announced || now < k.deadline) {
      ++it;
      continue;
    }
    auto d = sys::UsbDeviceAt(it->first);
    if (!d || d->serial != k.serial) {  // gone meanwhile
      it = m_known.erase(it);
      continue;
    }
    k.tty = d->tty;
    Announce(it->first, k, out);
    ++it;
  }
}

std::optional<CUsbWatch::Clock::time_point> CUsbWatch::NextDeadline() const {
  std::optional<Clock::time_point> next;
  for (const auto& [path, k] : m_known)
    if (!k.announced && (!next || k.deadline < *next)) next = k.deadline;
  return next;
}

void CUsbWatch::Resync(Clock::time_point now, bool initial, std::vector<UsbDeviceEvent>& out) {
  std::set<std::string> present;
  for (sys::UsbDevice& d : sys::ListUsbDevices(kFtdiVendor)) {
    if (d.serial.empty()) continue;
    auto it = m_known.find(d.devPath);
    if (it != m_known.end() && it->second.serial == d.serial) {
      present.insert(d.devPath);
      continue;
    }
    if (it != m_known.end()) {  // another device took the place of the one we knew
      if (it->second.announced) out.push_back(EventOf(YV_DEVICE_REMOVAL, it->first, it->second));
      m_known.erase(it);
    }
    present.insert(d.devPath);
    Known& k = m_known[d.devPath];
    k.serial = d.serial;
    k.product = d.product;
    k.tty = d.tty;
    k.announced = initial;
    k.deadline = now + TtyWait();
    if (!initial && !k.tty.empty()) Announce(d.devPath, k, out);
  }
  for (auto it = m_known.begin(); it != m_known.end();) {
    if (present.count(it->first)) {
      ++it;
      continue;
    }
    if (it->second.announced) out.push_back(EventOf(YV_DEVICE_REMOVAL, it->first, it->second));
    it = m_known.erase(it);
  }
}

void CUsbWatch::Announce(const std::string& devPath, Known& k, std::vector<UsbDeviceEvent>& out) {
  k.announced = true;
  out.push_back(EventOf(YV_DEVICE_ARRIVAL, devPath, k));
}

UsbDeviceEvent CUsbWatch::EventOf(uint32_t type, const std::string& devPath, const Known& k) const {
  UsbDeviceEvent e;
  e.type = type;
  e.vendor = kFtdiVendor;
  e.product = k.product;
  e.sysPath = sys::FromSystemBytes(SysRoot() + devPath);
  e.serial = sys::FromSystemBytes(k.serial);
  e.tty = sys::FromSystemBytes(k.tty);
  return e;
}

}  // namespace ylvane
