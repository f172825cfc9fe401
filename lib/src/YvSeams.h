// Settings of the library that tests change; the product keeps the defaults.
#pragma once

#include <memory>
#include <string>

struct addrinfo;  // <netdb.h>

namespace ylvane {

class CUsbWatch;

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

// Host names of TCP client ports are looked up with this function
// (getaddrinfo's signature; its results are freed with freeaddrinfo). Tests
// put a resolver of their own in its place; null restores getaddrinfo.
using HostLookupFn = int (*)(const char* node, const char* service, const ::addrinfo* hints,
                             ::addrinfo** result);
HostLookupFn HostLookup();
void SetHostLookup(HostLookupFn fn);

// The detector opens its watch on the kernel's USB events with this
// function (CUsbWatch::Open); tests put one of their own in its place, to
// see what the detector does while the watch is being opened. Null
// restores CUsbWatch::Open.
using UsbWatchOpenFn = std::unique_ptr<CUsbWatch> (*)();
UsbWatchOpenFn UsbWatchOpen();
void SetUsbWatchOpen(UsbWatchOpenFn fn);

}  // namespace ylvane
