// Which device stands behind a serial port's name, as sysfs tells it: a
// reader pulled out and plugged in again gets its old name back, but so may
// any other device, and a pty name is handed to the next terminal.
#pragma once

#include <QString>

// The identity of the device behind the port APort ("ttyUSB0"): for a USB
// device with a serial number, its vendor and product ids and that number;
// else the device's path in sysfs. Empty when no device stands behind the
// name (a pty, a virtual console, a name below /dev other than a port's own,
// a name that is gone). ASysRoot is where sysfs is read.
QString DeviceIdentity(const QString& APort, const QString& ASysRoot = QStringLiteral("/sys"));
