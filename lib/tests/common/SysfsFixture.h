// A sysfs tree in a temporary folder, laid out as the kernel lays it out
// (relative links from bus/ and class/ into devices/), with a folder for
// UUCP lock files beside it. Tests and benchmarks point the library's roots
// at it.
#pragma once

#include <stdlib.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

class SysfsFixture {
 public:
  SysfsFixture() {
    char tmpl[] = "/tmp/ylvane-sysfs.XXXXXX";
    if (!mkdtemp(tmpl)) return;
    base_ = tmpl;
    sys_ = base_ / "sys";
    std::filesystem::create_directories(sys_ / "bus/usb/devices");
    std::filesystem::create_directories(sys_ / "class/tty");
    std::filesystem::create_directories(base_ / "lock");
    // The root hub: a USB device of another vendor.
    Attr(Hub() / "idVendor", "1d6b");
    Attr(Hub() / "idProduct", "0002");
    Link(sys_ / "bus/usb/devices/usb1", Hub());
  }
  ~SysfsFixture() {
    std::error_code ec;
    if (!base_.empty()) std::filesystem::remove_all(base_, ec);
  }
  SysfsFixture(const SysfsFixture&) = delete;
  SysfsFixture& operator=(const SysfsFixture&) = delete;

  std::string SysRoot() const { return sys_.string(); }
  std::string LockDir() const { return (base_ / "lock").string(); }

  // A USB device on the root hub; an empty serial leaves the attribute out,
  // an empty tty means no serial driver is bound. Returns its device path
  // below the sysfs root, as kernel events name it.
  std::string AddUsb(const std::string& name, uint16_t vendor, uint16_t product,
                     const std::string& serial, const std::string& description,
                     const std::string& tty) {
    const auto dir = Hub() / name;
    Attr(dir / "idVendor", Hex(vendor));
    Attr(dir / "idProduct", Hex(product));
    if (!serial.empty()) Attr(dir / "serial", serial);
    Attr(dir / "product", description);
    const auto intf = dir / (name + ":1.0");
    Attr(intf / "bInterfaceNumber", "00");
    Link(sys_ / "bus/usb/devices" / name, dir);
    Link(sys_ / "bus/usb/devices" / (name + ":1.0"), intf);
    if (!tty.empty()) BindTty(name, tty);
    return "/" + std::filesystem::relative(dir, sys_).string();
  }

  // The serial driver's port on interface 0, for the moment before the
  // port's tty is registered; returns the port's device path.
  std::string AddSerialPortOnly(const std::string& name, const std::string& tty) {
    const auto port = Hub() / name / (name + ":1.0") / tty;
    Attr(port / "port_number", "0");
    return "/" + std::filesystem::relative(port, sys_).string();
  }

  // The serial driver binds to an interface (0 unless named: "1.1") and
  // creates its port.
  std::string BindTty(const std::string& name, const std::string& tty,
                      const std::string& intf = "1.0") {
    const auto port = Hub() / name / (name + ":" + intf) / tty;
    const auto cls = port / "tty" / tty;
    Attr(cls / "dev", "188:0");
    Link(cls / "device", port);
    Link(sys_ / "class/tty" / tty, cls);
    return "/" + std::filesystem::relative(cls, sys_).string();
  }

  // A USB modem (CDC ACM) port: its tty hangs right below interface 0.
  std::string BindAcmTty(const std::string& name, const std::string& tty) {
    const auto intf = Hub() / name / (name + ":1.0");
    const auto cls = intf / "tty" / tty;
    Attr(cls / "dev", "166:0");
    Link(cls / "device", intf);
    Link(sys_ / "class/tty" / tty, cls);
    return "/" + std::filesystem::relative(cls, sys_).string();
  }

  void RemoveUsb(const std::string& name) {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(sys_ / "class/tty", ec)) {
      auto target = std::filesystem::read_symlink(e.path(), ec);
      if (!ec && target.string().find("/" + name + "/") != std::string::npos)
        std::filesystem::remove(e.path(), ec);
    }
    std::filesystem::remove(sys_ / "bus/usb/devices" / name, ec);
    std::filesystem::remove(sys_ / "bus/usb/devices" / (name + ":1.0"), ec);
    std::filesystem::remove_all(Hub() / name, ec);
  }

  // A 8250 UART; type 0 is the kernel's placeholder for a port that is not there.
  void AddUart(const std::string& name, int type) {
    const auto cls = sys_ / "devices/platform/serial8250/tty" / name;
    Attr(cls / "type", std::to_string(type));
    Link(cls / "device", sys_ / "devices/platform/serial8250");
    Link(sys_ / "class/tty" / name, cls);
  }

  // A serial port of some other driver (a modem, a USB CDC port).
  void AddSerialTty(const std::string& name) {
    const auto parent = sys_ / "devices/pnp0/00:05";
    const auto cls = parent / "tty" / name;
    Attr(cls / "dev", "166:0");
    Link(cls / "device", parent);
    Link(sys_ / "class/tty" / name, cls);
  }

  // A serial port goes away (its driver unbound).
  void RemoveTty(const std::string& name) {
    std::error_code ec;
    std::filesystem::remove(sys_ / "class/tty" / name, ec);
  }

  // A tty without a device behind it (a virtual console).
  void AddVirtualTty(const std::string& name) {
    const auto cls = sys_ / "devices/virtual/tty" / name;
    Attr(cls / "dev", "4:1");
    Link(sys_ / "class/tty" / name, cls);
  }

  // The kernel's FTDI serial driver, loaded (it would bind its devices now).
  void SetFtdiDriver(bool present) {
    const auto dir = sys_ / "bus/usb-serial/drivers/ftdi_sio";
    std::error_code ec;
    if (present)
      std::filesystem::create_directories(dir);
    else
      std::filesystem::remove_all(dir, ec);
  }

  // A kernel module as sysfs lists it: loaded, or built in.
  void AddModule(const std::string& name) { std::filesystem::create_directories(sys_ / "module" / name); }

  // A list of the kernel's module tree ("modules.dep", "modules.builtin")
  // beside the sysfs root, for the running kernel's release or another one.
  void WriteModuleList(const std::string& file, const std::string& text,
                       const std::string& release = RunningRelease()) {
    const auto dir = base_ / "lib/modules" / release;
    std::filesystem::create_directories(dir);
    std::ofstream(dir / file) << text;
  }
  static std::string RunningRelease() {
    utsname u{};
    return uname(&u) == 0 ? u.release : "";
  }

  void WriteLock(const std::string& tty, const std::string& content) {
    std::ofstream(base_ / "lock" / ("LCK.." + tty)) << content;
  }

 private:
  std::filesystem::path Hub() const { return sys_ / "devices/pci0000:00/0000:00:14.0/usb1"; }

  static std::string Hex(uint16_t v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04x", v);
    return buf;
  }

  static void Attr(const std::filesystem::path& file, const std::string& text) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << text << "\n";
  }

  static void Link(const std::filesystem::path& at, const std::filesystem::path& target) {
    std::filesystem::create_directories(at.parent_path());
    std::filesystem::create_directories(target);
    std::error_code ec;
    std::filesystem::remove(at, ec);
    std::filesystem::create_directory_symlink(std::filesystem::relative(target, at.parent_path()),
                                              at);
  }

  std::filesystem::path base_;
  std::filesystem::path sys_;
};
