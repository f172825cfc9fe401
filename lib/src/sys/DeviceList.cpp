#include "sys/DeviceList.h"

#include <sys/stat.h>
#include <sys/utsname.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
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
// holds a "ttyUSB<n>" port while the serial driver is bound to it. The port
// counts once its tty is registered ("ttyUSB<n>/tty/ttyUSB<n>"): the driver
// adds the port a moment before, and until then there is no device to open.
std::string TtyOfInterface(const SysDir& intf) {
  std::vector<std::string> inner = intf.List();
  std::sort(inner.begin(), inner.end(), NaturalLess);
  for (const std::string& t : inner) {
    if (t.size() <= 6 || t.compare(0, 6, "ttyUSB") != 0) continue;
    const auto port = intf.Sub(t);
    const auto cls = port ? port->Sub("tty") : std::nullopt;
    if (cls && cls->Has(t)) return t;
  }
  return {};
}

std::string TtyOfInterfaceZero(const SysDir& dir, const std::string& name) {
  // Nearly every device runs configuration 1: look there first.
  if (auto intf = dir.Sub(name + ":1.0")) return TtyOfInterface(*intf);
  const std::string prefix = name + ":";
  std::vector<std::string> entries = dir.List();
  std::sort(entries.begin(), entries.end(), NaturalLess);
  for (const std::string& e : entries) {
    if (e.compare(0, prefix.size(), prefix) != 0) continue;
    if (e.size() < 2 || e.compare(e.size() - 2, 2, ".0") != 0) continue;
    if (auto intf = dir.Sub(e)) return TtyOfInterface(*intf);
  }
  return {};
}

// The device at devPath, when it is one of vendor (any vendor for nothing).
std::optional<UsbDevice> ReadDevice(const std::string& root, const std::string& devPath,
                                    std::optional<uint16_t> vendorWanted) {
  auto dir = SysDir::Open(root + devPath);
  if (!dir) return std::nullopt;
  auto vendor = HexId(dir->ReadAttr("idVendor"));
  if (!vendor || (vendorWanted && *vendor != *vendorWanted)) return std::nullopt;
  auto product = HexId(dir->ReadAttr("idProduct"));
  if (!product) return std::nullopt;
  UsbDevice d;
  d.devPath = devPath;
  d.name = devPath.substr(devPath.rfind('/') + 1);
  d.vendor = *vendor;
  d.product = *product;
  d.serial = dir->ReadAttr("serial").value_or("");
  d.description = dir->ReadAttr("product").value_or("");
  d.tty = TtyOfInterfaceZero(*dir, d.name);
  return d;
}

}  // namespace

std::vector<UsbDevice> ListUsbDevices(uint16_t vendor) {
  const std::string root = SysRoot();
  std::vector<UsbDevice> out;
  auto bus = SysDir::Open(root + "/bus/usb/devices");
  if (!bus) return out;
  std::vector<std::string> names = bus->List();
  std::sort(names.begin(), names.end(), NaturalLess);
  for (const std::string& n : names) {
    if (n.find(':') != std::string::npos) continue;  // an interface, not a device
    auto link = bus->ReadLink(n);
    std::optional<std::string> devPath = link ? DevPathOfLink(*link) : std::nullopt;
    if (!devPath) continue;
    if (auto d = ReadDevice(root, *devPath, vendor)) out.push_back(std::move(*d));
  }
  return out;
}

namespace {

// A path below the sysfs root as events name it, which leads nowhere else.
bool IsDevPath(const std::string& devPath) {
  return !devPath.empty() && devPath[0] == '/' && devPath.find("/../") == std::string::npos;
}

}  // namespace

std::optional<UsbDevice> UsbDeviceAt(const std::string& devPath) {
  if (!IsDevPath(devPath)) return std::nullopt;
  return ReadDevice(SysRoot(), devPath, std::nullopt);
}

std::optional<UsbTty> UsbTtyAt(const std::string& devPath) {
  if (!IsDevPath(devPath)) return std::nullopt;
  const std::string root = SysRoot();
  const size_t slash = devPath.rfind('/');
  UsbTty t;
  t.tty = devPath.substr(slash + 1);
  // As the listing has it: a tty without a device behind it is no port.
  if (t.tty.empty() || !Exists(root + devPath + "/device")) return std::nullopt;
  t.devPath = devPath;
  // The nearest USB device up the tree: the port's driver hangs it below an
  // interface ("1-1:1.0/ttyUSB0/tty/ttyUSB0", "1-1:1.0/tty/ttyACM0").
  for (std::string up = devPath.substr(0, slash); !up.empty(); up.erase(up.rfind('/'))) {
    if (auto d = ReadDevice(root, up, std::nullopt)) {
      t.device = std::move(*d);
      return t;
    }
  }
  return std::nullopt;
}

std::vector<UsbTty> ListUsbTtys() {
  std::vector<UsbTty> out;
  const std::string cls = SysRoot() + "/class/tty/";
  for (const std::string& name : ListSerialTtys()) {
    auto link = ReadLink(cls + name);
    std::optional<std::string> devPath = link ? DevPathOfLink(*link) : std::nullopt;
    if (!devPath) continue;
    if (auto t = UsbTtyAt(*devPath)) out.push_back(std::move(*t));
  }
  return out;
}

namespace {

bool IsLegacyUart(const std::string& name) {
  if (name.size() <= 4 || name.compare(0, 4, "ttyS") != 0) return false;
  return std::all_of(name.begin() + 4, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::vector<std::string> ListSerialTtys() {
  std::vector<std::string> out;
  auto cls = SysDir::Open(SysRoot() + "/class/tty");
  if (!cls) return out;
  std::vector<std::string> names = cls->List();
  std::sort(names.begin(), names.end(), NaturalLess);
  for (const std::string& n : names) {
    // Virtual consoles, the console and the pty master have no device.
    if (!cls->Has(n + "/device")) continue;
    if (IsLegacyUart(n) && cls->ReadAttr(n + "/type").value_or("") == "0") continue;
    out.push_back(n);
  }
  return out;
}

namespace {

constexpr std::string_view kFtdiModule = "ftdi_sio.ko";

// "kernel/drivers/usb/serial/ftdi_sio.ko", compressed or not (".ko.xz").
bool IsFtdiModulePath(std::string_view path) {
  const size_t slash = path.rfind('/');
  const std::string_view file = slash == std::string_view::npos ? path : path.substr(slash + 1);
  return file.substr(0, kFtdiModule.size()) == kFtdiModule &&
         (file.size() == kFtdiModule.size() || file[kFtdiModule.size()] == '.');
}

// A line of modules.builtin is a module's path; one of modules.dep is a
// module's path, ':' and what it needs.
bool ListsFtdiModule(std::string_view line) {
  const size_t colon = line.find(':');
  return IsFtdiModulePath(colon == std::string_view::npos ? line : line.substr(0, colon));
}

// What a module list file is now, to tell whether it changed: its inode,
// size and time of change; "-" when there is none.
std::string ListStamp(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return "-";
  return std::to_string(st.st_ino) + "/" + std::to_string(st.st_size) + "/" +
         std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

// The module tree's last answer. Every listing asks (the detector lists at
// each rescan) and modules.dep runs to hundreds of kilobytes, so the files
// are read again only when they change, as when a kernel package is
// installed. Plain values, never destroyed, like the roots: a host may list
// from an exit handler. The key is kept in a buffer of its own rather than
// a string on the heap, which would be lost when the library is unloaded;
// a key too long for it is not kept, and the files are read every time.
std::mutex g_moduleTreeLock;
char g_moduleTreeKey[PATH_MAX + 128] = "";
bool g_moduleTreeAnswer = false;

bool ModuleTreeHasFtdi(const std::string& tree) {
  const std::string builtin = tree + "/modules.builtin", dep = tree + "/modules.dep";
  const std::string key = tree + "|" + ListStamp(builtin) + "|" + ListStamp(dep);
  std::lock_guard<std::mutex> lock(g_moduleTreeLock);
  if (key != g_moduleTreeKey) {
    g_moduleTreeAnswer = AnyLine(builtin, ListsFtdiModule) || AnyLine(dep, ListsFtdiModule);
    if (key.size() < sizeof g_moduleTreeKey)
      std::memcpy(g_moduleTreeKey, key.c_str(), key.size() + 1);
    else
      g_moduleTreeKey[0] = '\0';
  }
  return g_moduleTreeAnswer;
}

}  // namespace

bool FtdiDriverInstalled() {
  const std::string root = SysRoot();
  // Loaded (its devices may bind now), or built in or loaded as the module
  // list of sysfs tells.
  if (IsDir(root + "/bus/usb-serial/drivers/ftdi_sio") || IsDir(root + "/module/ftdi_sio"))
    return true;
  utsname u{};
  if (uname(&u) != 0) return false;
  const size_t slash = root.find_last_of('/');
  const std::string system = slash == std::string::npos ? std::string() : root.substr(0, slash);
  return ModuleTreeHasFtdi(system + "/lib/modules/" + u.release);
}

}  // namespace ylvane::sys
