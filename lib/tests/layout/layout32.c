/* Compiled with -m32 only: the 32-bit binary interface, byte for byte. */
#include "ylvane.h"

#if !defined(__i386__)
#error "this check is meant for a 32-bit build"
#endif

#define CHECK(c) _Static_assert(c, #c)

CHECK(sizeof(void*) == 4);

CHECK(sizeof(YV_PORT_INFO) == 268);
CHECK(offsetof(YV_PORT_INFO, PortType) == 0);
CHECK(offsetof(YV_PORT_INFO, Name) == 4);
CHECK(offsetof(YV_PORT_INFO, Busy) == 68);
CHECK(offsetof(YV_PORT_INFO, PortName) == 72);
CHECK(offsetof(YV_PORT_INFO, TypeMask) == 136);
CHECK(offsetof(YV_PORT_INFO, Description) == 140);

CHECK(sizeof(YV_PORT_ID) == 8);
CHECK(offsetof(YV_PORT_ID, Name) == 4);

CHECK(sizeof(YV_SERIAL_DEVICE_TYPE) == 38);
CHECK(offsetof(YV_SERIAL_DEVICE_TYPE, TypeIndex) == 0);
CHECK(offsetof(YV_SERIAL_DEVICE_TYPE, Request) == 4);
CHECK(offsetof(YV_SERIAL_DEVICE_TYPE, RequestSize) == 8);
CHECK(offsetof(YV_SERIAL_DEVICE_TYPE, Callback) == 12);
CHECK(offsetof(YV_SERIAL_DEVICE_TYPE, DevDataSize) == 16);
CHECK(offsetof(YV_SERIAL_DEVICE_TYPE, Pids) == 20);
CHECK(offsetof(YV_SERIAL_DEVICE_TYPE, PidCount) == 24);
CHECK(offsetof(YV_SERIAL_DEVICE_TYPE, BaudRate) == 28);
CHECK(offsetof(YV_SERIAL_DEVICE_TYPE, EvChar) == 32);
CHECK(offsetof(YV_SERIAL_DEVICE_TYPE, StopBits) == 33);
CHECK(offsetof(YV_SERIAL_DEVICE_TYPE, DescFilter) == 34);

CHECK(sizeof(YV_IP_DEVICE_TYPE) == 24);
CHECK(offsetof(YV_IP_DEVICE_TYPE, Request) == 4);
CHECK(offsetof(YV_IP_DEVICE_TYPE, RequestSize) == 8);
CHECK(offsetof(YV_IP_DEVICE_TYPE, Callback) == 12);
CHECK(offsetof(YV_IP_DEVICE_TYPE, DevDataSize) == 16);
CHECK(offsetof(YV_IP_DEVICE_TYPE, UdpPort) == 20);

CHECK(sizeof(YV_SCAN_PARAMS) == 20);
CHECK(offsetof(YV_SCAN_PARAMS, Tries) == 4);
CHECK(offsetof(YV_SCAN_PARAMS, AbortEvent) == 8);
CHECK(offsetof(YV_SCAN_PARAMS, FirstPhaseTimeout) == 12);
CHECK(offsetof(YV_SCAN_PARAMS, WaitSlice) == 16);

CHECK(sizeof(YV_NOTIFY_SETTINGS) == 32);
CHECK(offsetof(YV_NOTIFY_SETTINGS, Callback) == 4);
CHECK(offsetof(YV_NOTIFY_SETTINGS, UserData) == 8);
CHECK(offsetof(YV_NOTIFY_SETTINGS, SerialTypeMask) == 12);
CHECK(offsetof(YV_NOTIFY_SETTINGS, IpTypeMask) == 16);
CHECK(offsetof(YV_NOTIFY_SETTINGS, Recipient) == 20);
CHECK(offsetof(YV_NOTIFY_SETTINGS, SerialScanInterval) == 24);
CHECK(offsetof(YV_NOTIFY_SETTINGS, IpScanInterval) == 28);

CHECK(sizeof(YV_EXIST_NMSG) == 272);
CHECK(offsetof(YV_EXIST_NMSG, DevData) == 268);

CHECK(sizeof(YV_CHANGE_NMSG) == 548);
CHECK(offsetof(YV_CHANGE_NMSG, NewInfo) == 4);
CHECK(offsetof(YV_CHANGE_NMSG, OldInfo) == 272);
CHECK(offsetof(YV_CHANGE_NMSG, NewDevData) == 540);
CHECK(offsetof(YV_CHANGE_NMSG, OldDevData) == 544);

CHECK(sizeof(YV_ERROR_NMSG) == 4);

CHECK(sizeof(YV_DEVICE_EVENT) == 20);
CHECK(offsetof(YV_DEVICE_EVENT, VendorId) == 4);
CHECK(offsetof(YV_DEVICE_EVENT, ProductId) == 6);
CHECK(offsetof(YV_DEVICE_EVENT, SysPath) == 8);
CHECK(offsetof(YV_DEVICE_EVENT, Serial) == 12);
CHECK(offsetof(YV_DEVICE_EVENT, TtyName) == 16);

/* stdcall on i386: a callee-pops callback type must be accepted as is. */
static YV_BOOL YV_CALL OnPort(const YV_PORT_INFO* Info, void* UserData) {
  (void)Info;
  (void)UserData;
  return 1;
}
static YV_ENUM_PORTS_CALLBACK const kOnPort = OnPort;
void* LayoutCheckKeep(void) { return (void*)kOnPort; }
