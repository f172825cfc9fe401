// USB card readers plugged into and pulled out of the real program, through
// sorvex_usb_bed: their devices in a sysfs of the test's own, their events,
// and their device nodes (links to ptys that play the readers). A program
// sees them when it runs in the bed's environment.
#pragma once

#include <string>

#include "ChildProcess.h"

namespace testtools {

class UsbBed {
 public:
  // Starts the bed tool at AToolPath under the preload list APreload.
  UsbBed(const std::string& AToolPath, const std::string& APreload);
  ~UsbBed();
  UsbBed(const UsbBed&) = delete;
  UsbBed& operator=(const UsbBed&) = delete;

  // Waits for the bed; false when it did not come.
  bool Ready();
  // AEnv with what makes a program see the bed as /sys and its /dev.
  Environment ProgramEnvironment(Environment AEnv) const;

  // A reader (a USB device AUsb, "1-1", with serial number ASerial, none
  // when empty, and the ids AIds, "0403:1234") is plugged in: its port ATty
  // ("ttyUSB0") is the device at ADevicePath, and the programs are told of
  // its arrival.
  bool Plug(const std::string& AUsb, const std::string& ASerial, const std::string& ATty,
            const std::string& ADevicePath, const std::string& AIds = "0403:1234");
  // It is pulled out: its node, its devices and their events go.
  bool Unplug(const std::string& AUsb, const std::string& ATty);
  // It is pulled out at the next call a program makes on its node, as it is
  // being opened: its devices and their events go, its node stays (Unplug
  // takes it later).
  bool PullOutAtOpen(const std::string& AUsb, const std::string& ATty);

 private:
  bool Command(const std::string& ALine);

  ChildProcess m_proc;
  std::string m_preload;
  std::string m_dir;
};

}  // namespace testtools
