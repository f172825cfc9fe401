// Settings of the library that tests change; the product keeps the defaults.
#pragma once

#include <string>

namespace ylvane {

// The FTDI driver library, loaded by this name or path ("libftd2xx.so").
std::string FtLibraryPath();
void SetFtLibraryPath(std::string path);

// The root of sysfs ("/sys") and the folder of the UUCP lock files
// ("/var/lock"); tests point them at fixture trees.
std::string SysRoot();
void SetSysRoot(std::string path);
std::string LockDir();
void SetLockDir(std::string path);

// How long the arrival of an FTDI device seen in a kernel event waits for
// its serial port to appear (2000 ms).
int UsbTtyWaitMs();
void SetUsbTtyWaitMs(int ms);

}  // namespace ylvane
