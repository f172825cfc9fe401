// The kernel's events about USB serial devices, turned into the arrivals and
// removals the detector takes. An FTDI device with a serial number (opened
// by that number) arrives once its serial port exists, or a grace time has
// passed. Every other serial port on a USB device (another maker's, one
// without a serial number, an FTDI device's further ports) is opened by its
// tty name and so arrives and goes with its tty. A removal takes the details
// from what was read while the device was there, since sysfs no longer has
// them.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sys/DeviceList.h"
#include "sys/Uevent.h"

namespace ylvane {

struct UsbDeviceEvent {
  uint32_t type = 0;  // YV_DEVICE_ARRIVAL or YV_DEVICE_REMOVAL
  uint16_t vendor = 0;
  uint16_t product = 0;
  std::u16string sysPath;  // the USB device's
  std::u16string serial;   // empty for a port that no serial number names
  std::u16string tty;
};

class CUsbWatch {
 public:
  using Clock = std::chrono::steady_clock;

  // A watch on the kernel's events, or null when they cannot be had.
  static std::unique_ptr<CUsbWatch> Open();
  // Without a socket: events are handed in (tests, and the socket path).
  CUsbWatch();

  int Fd() const { return m_socket ? m_socket->Fd() : -1; }
  // Reads what the socket holds and handles it.
  void OnReadable(Clock::time_point now, std::vector<UsbDeviceEvent>& out);
  void Handle(const sys::Uevent& ev, Clock::time_point now, std::vector<UsbDeviceEvent>& out);
  // The arrivals whose serial port has appeared or whose wait is over.
  void Due(Clock::time_point now, std::vector<UsbDeviceEvent>& out);
  std::optional<Clock::time_point> NextDeadline() const;

 private:
  struct Known {
    std::string serial;
    uint16_t product = 0;
    std::string tty;
    bool announced = false;
    Clock::time_point deadline;  // while not announced
  };

  // A serial port that no serial number names.
  struct Port {
    std::string tty;
    uint16_t vendor = 0;
    uint16_t product = 0;
    std::string usbPath;  // the USB device's device path
  };
  static Port PortOf(const sys::UsbTty& t) {
    return {t.tty, t.device.vendor, t.device.product, t.device.devPath};
  }

  // Brings the known devices in line with sysfs; initial: nothing is
  // reported, the present devices are simply known.
  void Resync(Clock::time_point now, bool initial, std::vector<UsbDeviceEvent>& out);
  using KnownIt = std::map<std::string, Known>::iterator;
  // Starts to follow the FTDI device d (when it is not followed yet); the
  // end of m_known when no serial number names it.
  KnownIt Follow(const sys::UsbDevice& d, Clock::time_point now, std::vector<UsbDeviceEvent>& out);
  // The followed device that devPath is below, or the end of m_known.
  KnownIt KnownAbove(const std::string& devPath);
  // A port's tty was added; a port at or below devPath is gone.
  void AddPort(const std::string& devPath, std::vector<UsbDeviceEvent>& out);
  void RemovePorts(const std::string& devPath, std::vector<UsbDeviceEvent>& out);
  void Announce(const std::string& devPath, Known& k, std::vector<UsbDeviceEvent>& out);
  UsbDeviceEvent EventOf(uint32_t type, const std::string& devPath, const Known& k) const;
  UsbDeviceEvent EventOf(uint32_t type, const Port& p) const;

  std::optional<sys::UeventSocket> m_socket;
  std::map<std::string, Known> m_known;  // by device path below the sysfs root
  std::map<std::string, Port> m_ports;   // by the device path of the port's tty
};

}  // namespace ylvane
