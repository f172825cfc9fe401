// The work the library object hands on: the listing of serial ports, the
// probing and discovery scans, and the creation of notifiers. Each answers
// a status and calls the host's callbacks on the calling thread.
#pragma once

#include <cstdint>

#include "YvCom.h"

namespace ylvane {

class CYvLib;
class IYvPort;

// One YV_ENUM_PORTS_CALLBACK per serial port or FTDI device of the mask.
HRESULT ReportSerialPorts(CYvLib& lib, uint32_t TypeMask, YV_ENUM_PORTS_CALLBACK Callback,
                          void* UserData);

// Probes the given ports (or all ports) for the registered serial types of
// the mask; every recognised device goes to Callback.
HRESULT ScanSerialDevices(CYvLib& lib, int32_t PortCount, YV_ENUM_DEVICES_CALLBACK Callback,
                          uint32_t TypeMask, const YV_PORT_ID* Ports, void* UserData,
                          const YV_SCAN_PARAMS& Params);

// Probes like ScanSerialDevices and copies out the first device found.
HRESULT FindSerialDeviceScan(CYvLib& lib, int32_t PortCount, void* DevData, uint32_t TypeMask,
                             const YV_PORT_ID* Ports, YV_PORT_INFO* Info, int32_t DevDataSize,
                             const YV_SCAN_PARAMS& Params);

// Discovers network devices of the registered network types of the mask.
HRESULT ScanIpDevices(CYvLib& lib, void* UserData, const YV_SCAN_PARAMS& Params,
                      uint32_t TypeMask, YV_ENUM_DEVICES_CALLBACK Callback,
                      YV_ENUM_DEVICES_CALLBACK TryCallback);

// Creates a notifier from checked settings and attaches it to the detector;
// on success *Notifier holds it with one reference.
HRESULT CreateNotifier(CYvLib& lib, YV_HANDLE* Notifier, const YV_NOTIFY_SETTINGS& Settings);

// The driver version of an open FTDI port.
HRESULT GetFtDriverVersion(IYvPort& port, uint32_t* Version);

}  // namespace ylvane
