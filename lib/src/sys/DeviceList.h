// What is plugged in, as sysfs tells it: USB devices with their serial port,
// and the serial ports of the machine. Read under the settable sysfs root;
// no device is ever opened.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ylvane::sys {

struct UsbDevice {
  std::string name;     // "1-1.2"
  std::string devPath;  // below the sysfs root, as kernel events name it: "/devices/.../1-1.2"
  uint16_t vendor = 0;
  uint16_t product = 0;
  std::string serial;       // empty when the device has none
  std::string description;  // the bus-reported product text
  std::string tty;          // "ttyUSB0" of interface 0 while a driver is bound, else empty
};

// The USB devices (not their interfaces) of a vendor, in natural name order.
std::vector<UsbDevice> ListUsbDevices(uint16_t vendor);
// The device at a path below the sysfs root ("/devices/..."); nothing when
// it is gone or is no USB device.
std::optional<UsbDevice> UsbDeviceAt(const std::string& devPath);

// A serial port on a USB device, of whatever maker or driver.
struct UsbTty {
  std::string tty;      // "ttyUSB0", "ttyACM0"
  std::string devPath;  // its tty below the sysfs root: "/devices/.../ttyUSB0/tty/ttyUSB0"
  UsbDevice device;     // the USB device the port is on
};

// The serial port whose tty is at devPath below the sysfs root, when it is
// one that ListSerialTtys lists and it is on a USB device.
std::optional<UsbTty> UsbTtyAt(const std::string& devPath);
// The serial ports of ListSerialTtys that are on USB devices, in its order.
std::vector<UsbTty> ListUsbTtys();

// The serial ports: every tty with a device behind it, in natural name
// order. Legacy "ttyS" ports whose UART type is 0 are left out: the kernel
// creates such placeholders whether or not a port exists.
std::vector<std::string> ListSerialTtys();

// Whether the kernel's FTDI serial driver (ftdi_sio) is installed: loaded,
// built into the running kernel, or in the running kernel's module tree
// (which the kernel loads from when a device comes). The answer does not
// change when a device is plugged in. The module tree is read from
// lib/modules beside the sysfs root's folder: /lib/modules for /sys.
bool FtdiDriverInstalled();

}  // namespace ylvane::sys
