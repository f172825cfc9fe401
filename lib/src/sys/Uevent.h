// Kernel device events (uevents) from a netlink socket, and their parser.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace ylvane::sys {

// One device event: the properties this library looks at.
struct Uevent {
  std::string action;     // "add", "remove", "bind", ...
  std::string devPath;    // "/devices/..." below the sysfs root
  std::string subsystem;  // "usb", "tty", "usb-serial", ...
  std::string devType;    // "usb_device", "usb_interface", or empty
  std::string product;    // USB "vendor/product/bcd" in hex, or empty
};

// Parses one datagram: the kernel's form ("action@devpath" then KEY=VALUE
// strings) or the udev daemon's (a "libudev" header, then the strings).
// Nothing when it is neither or lacks ACTION, DEVPATH or SUBSYSTEM.
std::optional<Uevent> ParseUevent(const char* data, size_t size);

// The vendor and product ids of a USB "PRODUCT" property ("403/6001/600").
bool ParseUsbProduct(const std::string& product, unsigned* vendor, unsigned* productId);

// A socket on the kernel's device events; non-blocking, closed with it.
class UeventSocket {
 public:
  // Nothing when netlink is not available to this process.
  static std::optional<UeventSocket> Open();
  UeventSocket(UeventSocket&& o) noexcept : m_fd(o.m_fd) { o.m_fd = -1; }
  UeventSocket& operator=(UeventSocket&& o) noexcept;
  ~UeventSocket();
  UeventSocket(const UeventSocket&) = delete;
  UeventSocket& operator=(const UeventSocket&) = delete;

  int Fd() const { return m_fd; }
  // Every event waiting now. overflowed is set when the kernel had to drop
  // events because they were not read in time; datagrams that do not come
  // from the kernel are dropped.
  std::vector<Uevent> Receive(bool* overflowed);

 private:
  explicit UeventSocket(int fd) : m_fd(fd) {}
  int m_fd;
};

}  // namespace ylvane::sys
