#include "YvUsbWatch.h"

#include <atomic>
#include <set>

#include "YvSeams.h"
#include "sys/Text.h"
#include "ylvane.h"

namespace ylvane {

namespace {

constexpr uint16_t kFtdiVendor = 0x0403;

std::atomic<UsbWatchOpenFn> g_watchOpen{nullptr};

CUsbWatch::Clock::duration TtyWait() { return std::chrono::milliseconds(UsbTtyWaitMs()); }

bool IsBelow(const std::string& path, const std::string& dev) {
  return path.size() > dev.size() && path.compare(0, dev.size(), dev) == 0 &&
         path[dev.size()] == '/';
}

std::string LastName(const std::string& devPath) { return devPath.substr(devPath.rfind('/') + 1); }

}  // namespace

UsbWatchOpenFn UsbWatchOpen() {
  const UsbWatchOpenFn fn = g_watchOpen;
  return fn ? fn : &CUsbWatch::Open;
}

void SetUsbWatchOpen(UsbWatchOpenFn fn) { g_watchOpen = fn; }

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
  const bool usbDevice = ev.subsystem == "usb" && ev.devType == "usb_device";
  if (ev.action == "remove") {
    // A port's tty goes before its device; a device whose ports' events
    // were missed takes them with it.
    RemovePorts(ev.devPath, out);
    if (!usbDevice) return;
    auto it = m_known.find(ev.devPath);
    if (it == m_known.end()) return;
    // A device that left before it was announced is simply forgotten.
    if (it->second.announced) out.push_back(EventOf(YV_DEVICE_REMOVAL, it->first, it->second));
    m_known.erase(it);
    return;
  }
  if (ev.action != "add") return;
  if (usbDevice) {
    unsigned vendor = 0, product = 0;
    if (!sys::ParseUsbProduct(ev.product, &vendor, &product) || vendor != kFtdiVendor) return;
    if (m_known.count(ev.devPath)) return;  // told twice
    auto d = sys::UsbDeviceAt(ev.devPath);
    if (d && d->vendor == kFtdiVendor) Follow(*d, now, out);
    return;
  }
  // Something new below a USB device, such as its serial port.
  const bool tty = ev.subsystem == "tty";
  auto owner = KnownAbove(ev.devPath);
  if (owner == m_known.end() && tty) {
    // The port of an FTDI device whose own event could not be read for what
    // it is (it came before the device's files, or was lost).
    auto t = sys::UsbTtyAt(ev.devPath);
    if (t && t->device.vendor == kFtdiVendor) owner = Follow(t->device, now, out);
  }
  if (owner != m_known.end()) {
    Known& k = owner->second;
    if (k.tty.empty()) {
      if (auto d = sys::UsbDeviceAt(owner->first)) k.tty = d->tty;
    }
    if (!k.announced && !k.tty.empty()) Announce(owner->first, k, out);
    // Its serial number names its first port; any further one is a port
    // of its own.
    if (!tty || LastName(ev.devPath) == k.tty) return;
  }
  if (tty) AddPort(ev.devPath, out);
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
    if (d.serial.empty()) continue;  // its port is a plain one
    auto it = m_known.find(d.devPath);
    if (it != m_known.end() && it->second.serial == d.serial) {
      present.insert(d.devPath);
      Known& k = it->second;
      if (k.tty.empty()) k.tty = d.tty;
      if (!k.announced && !k.tty.empty()) Announce(d.devPath, k, out);
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

  std::set<std::string> ports;
  for (sys::UsbTty& t : sys::ListUsbTtys()) {
    auto k = m_known.find(t.device.devPath);
    if (k != m_known.end() && k->second.tty == t.tty) continue;  // the followed device's own
    ports.insert(t.devPath);
    if (m_ports.count(t.devPath)) continue;
    const Port& p = m_ports[t.devPath] = PortOf(t);
    if (!initial) out.push_back(EventOf(YV_DEVICE_ARRIVAL, p));
  }
  for (auto it = m_ports.begin(); it != m_ports.end();) {
    if (ports.count(it->first)) {
      ++it;
      continue;
    }
    out.push_back(EventOf(YV_DEVICE_REMOVAL, it->second));
    it = m_ports.erase(it);
  }
}

CUsbWatch::KnownIt CUsbWatch::Follow(const sys::UsbDevice& d, Clock::time_point now,
                                     std::vector<UsbDeviceEvent>& out) {
  // Opened by its serial number: a device without one has plain ports.
  if (d.serial.empty()) return m_known.end();
  auto [it, added] = m_known.try_emplace(d.devPath);
  if (!added) return it;
  Known& k = it->second;
  k.serial = d.serial;
  k.product = d.product;
  k.tty = d.tty;
  k.deadline = now + TtyWait();
  if (!k.tty.empty()) Announce(d.devPath, k, out);
  return it;
}

CUsbWatch::KnownIt CUsbWatch::KnownAbove(const std::string& devPath) {
  for (auto it = m_known.begin(); it != m_known.end(); ++it)
    if (IsBelow(devPath, it->first)) return it;
  return m_known.end();
}

void CUsbWatch::AddPort(const std::string& devPath, std::vector<UsbDeviceEvent>& out) {
  if (m_ports.count(devPath)) return;  // told twice
  auto t = sys::UsbTtyAt(devPath);
  if (!t) return;
  out.push_back(EventOf(YV_DEVICE_ARRIVAL, m_ports[devPath] = PortOf(*t)));
}

void CUsbWatch::RemovePorts(const std::string& devPath, std::vector<UsbDeviceEvent>& out) {
  for (auto it = m_ports.begin(); it != m_ports.end();) {
    if (it->first != devPath && !IsBelow(it->first, devPath)) {
      ++it;
      continue;
    }
    out.push_back(EventOf(YV_DEVICE_REMOVAL, it->second));
    it = m_ports.erase(it);
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

UsbDeviceEvent CUsbWatch::EventOf(uint32_t type, const Port& p) const {
  UsbDeviceEvent e;
  e.type = type;
  e.vendor = p.vendor;
  e.product = p.product;
  e.sysPath = sys::FromSystemBytes(SysRoot() + p.usbPath);
  e.tty = sys::FromSystemBytes(p.tty);
  return e;
}

}  // namespace ylvane
