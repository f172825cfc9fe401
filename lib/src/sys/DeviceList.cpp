#include "sys/DeviceList.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "YvSeams.h"
#include "sys/SysFs.h"

namespace ylvane::sys {

namespace {

std::optional<uint16_t> HexId(const std::optional<std::string>& text) {
  if (!text || text->empty() || text->size() > 4) return std::nullopt;
  char* end = nullptr;
  unsigned long v = std::strtoul(text->c_str(), &end, 16);
  if (*end != '\0') return std::nullopt;
  return static_cast<uint16_t>(v);
}

// "../../../devices/x/1-1" seen from "<root>/bus/usb/devices" is "/devices/x/1-1".
std::optional<std::string> DevPathOfLink(const std::string& target) {
  std::string_view t(target);
  while (t.substr(0, 3) == "../") t.remove_prefix(3);
  if (t.substr(0, 8) != "devices/") return std::nullopt;
  return "/" + std::string(t);
}

// The serial port of interface 0: the interface folder "<name>:<config>.0"
// holds a "ttyUSB<n>" port while the serial driver is bound to it.
std::string TtyOfInterfaceZero(const std::string& dir, const std::string& name) {
  const std::string prefix = name + ":";
  std::vector<std::string> entries = ListDir(dir);
  std::sort(entries.begin(), entries.end(), NaturalLess);
  for (const std::string& e : entries) {
    if (e.compare(0, prefix.size(), prefix) != 0) continue;
    if (e.size() < 2 || e.compare(e.size() - 2, 2, ".0") != 0) continue;
    std::vector<std::string> inner = ListDir(dir + "/" + e);
    std::sort(inner.begin(), inner.end(), NaturalLess);
    for (const std::string& t : inner)
      if (t.size() > 6 && t.compare(0, 6, "ttyUSB") == 0) return t;
  }
  return {};
}

std::optional<UsbDevice> ReadDevice(const std::string& root, const std::string& devPath) {
  const std::string dir = root + devPath;
  auto vendor = HexId(ReadAttr(dir + "/idVendor"));
  auto product = HexId(ReadAttr(dir + "/idProduct"));
  if (!vendor || !product) return std::nullopt;
  UsbDevice d;
  d.devPath = devPath;
  d.name = devPath.substr(devPath.rfind('/') + 1);
  d.vendor = *vendor;
  d.product = *product;
  d.serial = ReadAttr(dir + "/serial").value_or("");
  d.description = ReadAttr(dir + "/product").value_or("");
  d.tty = TtyOfInterfaceZero(dir, d.name);
  return d;
}

}  // namespace

std::vector<UsbDevice> ListUsbDevices(uint16_t vendor) {
  const std::string root = SysRoot();
  const std::string bus = root + "/bus/usb/devices";
  std::vector<std::string> names = ListDir(bus);
  std::sort(names.begin(), names.end(), NaturalLess);
  std::vector<UsbDevice> out;
  for (const std::string& n : names) {
    if (n.find(':') != std::string::npos) continue;  // an interface, not a device
    auto link = ReadLink(bus + "/" + n);
    std::optional<std::string> devPath = link ? DevPathOfLink(*link) : std::nullopt;
    if (!devPath) continue;
    auto d = ReadDevice(root, *devPath);
    if (d && d->vendor == vendor) out.push_back(std::move(*d));
  }
  return out;
}

std::optional<UsbDevice> UsbDeviceAt(const std::string& devPath) {
  if (devPath.empty() || devPath[0] != '/' || devPath.find("/../") != std::string::npos)
    return std::nullopt;
  return ReadDevice(SysRoot(), devPath);
}

namespace {

bool IsLegacyUart(const std::string& name) {
  if (name.size() <= 4 || name.compare(0, 4, "ttyS") != 0) return false;
  return std::all_of(name.begin() + 4, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::vector<std::string> ListSerialTtys() {
  const std::string cls = SysRoot() + "/class/tty";
  std::vector<std::string> names = ListDir(cls);
  std::sort(names.begin(), names.end(), NaturalLess);
  std::vector<std::string> out;
  for (const std::string& n : names) {
    const std::string dir = cls + "/" + n;
    // Virtual consoles, the console and the pty master have no device.
    if (!Exists(dir + "/device")) continue;
    if (IsLegacyUart(n) && ReadAttr(dir + "/type").value_or("") == "0") continue;
    out.push_back(n);
  }
  return out;
}

bool FtdiDriverPresent() { return IsDir(SysRoot() + "/bus/usb-serial/drivers/ftdi_sio"); }

}  // namespace ylvane::sys
