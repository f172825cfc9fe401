/*
 * Ylvane: serial, FTDI and TCP ports, device listing and hot-plug notifiers
 * behind one flat C interface.
 *
 * Every function but YV_GetVersion returns a 32-bit status code: 0 is
 * success, a negative value a failure (test with YV_FAILED / YV_SUCCEEDED).
 * Texts are UTF-16 (char16_t) and zero-terminated.
 *
 * Events handed to the host (a port's receive event, a scan's abort event)
 * are file descriptors of eventfds: "signalled" means readable. The host
 * waits on them with poll() and never reads, writes or closes a port's
 * event; a value <= 0 means "no event".
 */
#ifndef YLVANE_H
#define YLVANE_H

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Calling convention of exports and callbacks: stdcall on i386 only. */
#if defined(__i386__)
#define YV_CALL __attribute__((stdcall))
#else
#define YV_CALL
#endif

#if defined(YLVANE_BUILDING)
#define YV_API __attribute__((visibility("default")))
#else
#define YV_API
#endif

/* ---- Status codes ------------------------------------------------------ */

#ifndef _HRESULT_DEFINED
#define _HRESULT_DEFINED
typedef int32_t HRESULT;
#endif

#define YV_SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define YV_FAILED(hr) (((HRESULT)(hr)) < 0)

#ifndef S_OK
#define S_OK ((HRESULT)0x00000000)
#endif
#ifndef E_INVALIDARG
#define E_INVALIDARG ((HRESULT)0x80070057)
#endif
#ifndef E_FAIL
#define E_FAIL ((HRESULT)0x80004005)
#endif
#ifndef E_NOINTERFACE
#define E_NOINTERFACE ((HRESULT)0x80004002)
#endif
#ifndef E_OUTOFMEMORY
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#endif
#ifndef E_ABORT
#define E_ABORT ((HRESULT)0x80004004)
#endif
#ifndef E_NOTIMPL
#define E_NOTIMPL ((HRESULT)0x80004001)
#endif

#define YV_S_CANCELED ((HRESULT)0x00040201)
#define YV_S_NOT_FOUND ((HRESULT)0x00040202)
#define YV_E_PORT_NOT_EXISTS ((HRESULT)0x80040203)
#define YV_E_PORT_BUSY ((HRESULT)0x80040204)
#define YV_E_PORT_OPEN ((HRESULT)0x80040205)
#define YV_E_COMM ((HRESULT)0x80040206)
#define YV_E_PORT_SETUP ((HRESULT)0x80040207)
#define YV_E_FTD2XX_LOAD ((HRESULT)0x80040208)
#define YV_E_SOCKET ((HRESULT)0x80040209)
#define YV_E_CLOSED_OUTSIDE ((HRESULT)0x8004020A)
#define YV_E_NOT_INITIALIZED ((HRESULT)0x8004020B)
#define YV_E_BUFFER_TOO_SMALL ((HRESULT)0x8004020C)

/* Languages of the status texts (YV_GetStatusText). */
#define YV_LANG_ENGLISH 1033
#define YV_LANG_RUSSIAN 1049

/* ---- Basic types ------------------------------------------------------- */

typedef int32_t YV_BOOL;
typedef void* YV_HANDLE;

typedef int32_t YV_PORT_TYPE;
#define YV_PORT_COM 1 /* serial port by its name under /dev ("ttyUSB0", "pts/3") */
#define YV_PORT_FT 2  /* FTDI device by its serial number */
#define YV_PORT_IP 3  /* TCP client: host, ':', port */
#define YV_PORT_IPS 4 /* TCP server: peer's IPv4 address, ':', local port */

/* YV_Initialize flags */
#define YV_INIT_NOWINDOW 0x1u /* the host forwards device events itself */
#define YV_INIT_DEBUG 0x2u    /* accepted, no effect */

/* Notification flags (YV_NOTIFY_SETTINGS.Flags) */
#define YV_NF_EXIST 0x0001u
#define YV_NF_CHANGE 0x0002u
#define YV_NF_ERROR 0x0008u
#define YV_NF_PROBE 0x0010u
#define YV_NF_WNDSYNC 0x4000u
#define YV_NF_SIGNAL 0x8000u

/* Notification kinds (first argument of YV_NOTIFY_CALLBACK) */
#define YV_NMSG_SIGNAL 0u
#define YV_NMSG_ARRIVAL 1u
#define YV_NMSG_REMOVAL 2u
#define YV_NMSG_CHANGE 3u
#define YV_NMSG_ERROR 4u

/* Change-mask bits of YV_CHANGE_NMSG */
#define YV_CHG_BUSY 0x004u
#define YV_CHG_PORTNAME 0x008u
#define YV_CHG_TYPEMASK 0x010u
#define YV_CHG_DESCRIPTION 0x020u
#define YV_CHG_DATA0 0x040u
#define YV_CHG_DATA1 0x080u
#define YV_CHG_DATA2 0x100u
#define YV_CHG_DATA3 0x200u
#define YV_CHG_DATA_REST 0x400u

/* YV_PORT_INFO.Busy bits */
#define YV_BUSY_INUSE 0x1
#define YV_BUSY_FROM_LIST 0x2

/* ---- Records ------------------------------------------------------------ */

/* One port or device as listings and notifications show it (268 bytes). */
typedef struct YV_PORT_INFO {
  int32_t PortType;
  char16_t Name[32];
  int32_t Busy;
  char16_t PortName[32];
  uint32_t TypeMask;
  char16_t Description[64];
} YV_PORT_INFO;

/* One entry of a host's port list. */
typedef struct YV_PORT_ID {
  int32_t PortType;
  const char16_t* Name;
} YV_PORT_ID;

typedef YV_BOOL(YV_CALL* YV_ENUM_PORTS_CALLBACK)(const YV_PORT_INFO* Info, void* UserData);
typedef YV_BOOL(YV_CALL* YV_ENUM_DEVICES_CALLBACK)(const void* DevData, const YV_PORT_INFO* Info,
                                                   void* UserData);
typedef YV_BOOL(YV_CALL* YV_DEVTYPE_CALLBACK)(const void* Reply, int32_t ReplySize, HRESULT* Status,
                                              void* DevData, YV_PORT_INFO* Info,
                                              YV_ENUM_DEVICES_CALLBACK HostCallback,
                                              void* UserData);
typedef YV_BOOL(YV_CALL* YV_NOTIFY_CALLBACK)(uint32_t Kind, const void* Payload, void* UserData);

/* A serial device type as a host registers it; byte-packed. */
#pragma pack(push, 1)
typedef struct YV_SERIAL_DEVICE_TYPE {
  uint32_t TypeIndex;
  const void* Request;
  int32_t RequestSize;
  YV_DEVTYPE_CALLBACK Callback;
  int32_t DevDataSize;
  const uint16_t* Pids;
  int32_t PidCount;
  uint32_t BaudRate;
  char EvChar;
  uint8_t StopBits;
  const char16_t* DescFilter;
} YV_SERIAL_DEVICE_TYPE;
#pragma pack(pop)

/* A network device type as a host registers it. */
typedef struct YV_IP_DEVICE_TYPE {
  uint32_t TypeIndex;
  const void* Request;
  int32_t RequestSize;
  YV_DEVTYPE_CALLBACK Callback;
  int32_t DevDataSize;
  int32_t UdpPort;
} YV_IP_DEVICE_TYPE;

/* Optional parameters of the device scans; a zero field takes the default. */
typedef struct YV_SCAN_PARAMS {
  uint32_t ReplyTimeout;
  int32_t Tries;
  int AbortEvent; /* eventfd; readable = abort; <= 0 = none */
  uint32_t FirstPhaseTimeout;
  int32_t WaitSlice;
} YV_SCAN_PARAMS;

/* The argument of YV_FindNotification; the library copies it. */
typedef struct YV_NOTIFY_SETTINGS {
  uint32_t Flags;
  YV_NOTIFY_CALLBACK Callback;
  void* UserData;
  uint32_t SerialTypeMask;
  uint32_t IpTypeMask;
  void* Recipient; /* non-NULL: the host forwards device events (YV_DeviceEventNotify) */
  uint32_t SerialScanInterval;
  uint32_t IpScanInterval;
} YV_NOTIFY_SETTINGS;

/* Payloads of the notification kinds. */
typedef struct YV_EXIST_NMSG {
  YV_PORT_INFO Info;
  const void* DevData;
} YV_EXIST_NMSG;

typedef struct YV_CHANGE_NMSG {
  uint32_t ChangeMask;
  YV_PORT_INFO NewInfo;
  YV_PORT_INFO OldInfo;
  const void* NewDevData;
  const void* OldDevData;
} YV_CHANGE_NMSG;

typedef struct YV_ERROR_NMSG {
  HRESULT Error;
} YV_ERROR_NMSG;

/*
 * A USB device event that a host forwards with YV_DeviceEventNotify (for
 * example from its own udev monitor): EventType is YV_DEVICE_ARRIVAL or
 * YV_DEVICE_REMOVAL and EventData points at this record. Texts are UTF-16
 * and zero-terminated; SysPath, Serial and TtyName may be NULL. A serial
 * port that the serial number of no FTDI device of a watched type names
 * (another maker's adapter, a device without a serial number) is listed as
 * a plain port: its event, with its TtyName, tells of the YV_PORT_COM port
 * of that name, to notifiers whose types take plain ports.
 */
#define YV_DEVICE_ARRIVAL 0x8000u
#define YV_DEVICE_REMOVAL 0x8004u

typedef struct YV_DEVICE_EVENT {
  uint32_t Size;             /* sizeof(YV_DEVICE_EVENT) */
  uint16_t VendorId;         /* USB vendor id (idVendor) */
  uint16_t ProductId;        /* USB product id (idProduct) */
  const char16_t* SysPath;   /* the USB device's sysfs path ("/sys/devices/...") */
  const char16_t* Serial;    /* its serial number (the name YV_PORT_FT opens), if any */
  const char16_t* TtyName;   /* its serial port under /dev ("ttyUSB0"), if known */
} YV_DEVICE_EVENT;

/* The 64-bit layout is part of the binary interface too. */
#if defined(__x86_64__) || defined(__aarch64__)
#ifdef __cplusplus
#define YV_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#define YV_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif
YV_STATIC_ASSERT(sizeof(YV_PORT_INFO) == 268, "YV_PORT_INFO size");
YV_STATIC_ASSERT(offsetof(YV_PORT_INFO, Busy) == 68, "YV_PORT_INFO.Busy");
YV_STATIC_ASSERT(offsetof(YV_PORT_INFO, PortName) == 72, "YV_PORT_INFO.PortName");
YV_STATIC_ASSERT(offsetof(YV_PORT_INFO, TypeMask) == 136, "YV_PORT_INFO.TypeMask");
YV_STATIC_ASSERT(offsetof(YV_PORT_INFO, Description) == 140, "YV_PORT_INFO.Description");
YV_STATIC_ASSERT(sizeof(YV_PORT_ID) == 16 && offsetof(YV_PORT_ID, Name) == 8, "YV_PORT_ID");
YV_STATIC_ASSERT(sizeof(YV_SERIAL_DEVICE_TYPE) == 54, "YV_SERIAL_DEVICE_TYPE size");
YV_STATIC_ASSERT(offsetof(YV_SERIAL_DEVICE_TYPE, Callback) == 16, "YV_SERIAL_DEVICE_TYPE.Callback");
YV_STATIC_ASSERT(offsetof(YV_SERIAL_DEVICE_TYPE, Pids) == 28, "YV_SERIAL_DEVICE_TYPE.Pids");
YV_STATIC_ASSERT(offsetof(YV_SERIAL_DEVICE_TYPE, EvChar) == 44, "YV_SERIAL_DEVICE_TYPE.EvChar");
YV_STATIC_ASSERT(offsetof(YV_SERIAL_DEVICE_TYPE, DescFilter) == 46,
                 "YV_SERIAL_DEVICE_TYPE.DescFilter");
YV_STATIC_ASSERT(sizeof(YV_IP_DEVICE_TYPE) == 40 && offsetof(YV_IP_DEVICE_TYPE, UdpPort) == 36,
                 "YV_IP_DEVICE_TYPE");
YV_STATIC_ASSERT(sizeof(YV_SCAN_PARAMS) == 20 && offsetof(YV_SCAN_PARAMS, AbortEvent) == 8,
                 "YV_SCAN_PARAMS");
YV_STATIC_ASSERT(sizeof(YV_NOTIFY_SETTINGS) == 48, "YV_NOTIFY_SETTINGS size");
YV_STATIC_ASSERT(offsetof(YV_NOTIFY_SETTINGS, SerialTypeMask) == 24, "YV_NOTIFY_SETTINGS masks");
YV_STATIC_ASSERT(offsetof(YV_NOTIFY_SETTINGS, Recipient) == 32, "YV_NOTIFY_SETTINGS.Recipient");
YV_STATIC_ASSERT(offsetof(YV_NOTIFY_SETTINGS, IpScanInterval) == 44, "YV_NOTIFY_SETTINGS end");
YV_STATIC_ASSERT(sizeof(YV_EXIST_NMSG) == 280 && offsetof(YV_EXIST_NMSG, DevData) == 272,
                 "YV_EXIST_NMSG");
YV_STATIC_ASSERT(sizeof(YV_CHANGE_NMSG) == 560, "YV_CHANGE_NMSG size");
YV_STATIC_ASSERT(offsetof(YV_CHANGE_NMSG, OldInfo) == 272, "YV_CHANGE_NMSG.OldInfo");
YV_STATIC_ASSERT(offsetof(YV_CHANGE_NMSG, NewDevData) == 544, "YV_CHANGE_NMSG.NewDevData");
YV_STATIC_ASSERT(offsetof(YV_CHANGE_NMSG, OldDevData) == 552, "YV_CHANGE_NMSG.OldDevData");
YV_STATIC_ASSERT(sizeof(YV_ERROR_NMSG) == 4, "YV_ERROR_NMSG");
YV_STATIC_ASSERT(sizeof(YV_DEVICE_EVENT) == 32 && offsetof(YV_DEVICE_EVENT, SysPath) == 8,
                 "YV_DEVICE_EVENT");
#undef YV_STATIC_ASSERT
#endif

/* ---- Functions ---------------------------------------------------------- */

/* Version word: byte 0 major, byte 1 minor, byte 2 build. */
YV_API uint32_t YV_CALL YV_GetVersion(void);
YV_API HRESULT YV_CALL YV_GetFtLibVersion(uint32_t* Version);

YV_API HRESULT YV_CALL YV_Initialize(uint32_t Flags);
YV_API HRESULT YV_CALL YV_Finalyze(void);

YV_API HRESULT YV_CALL YV_EnumSerialPorts(uint32_t TypeMask, YV_ENUM_PORTS_CALLBACK Callback,
                                          void* UserData);
YV_API HRESULT YV_CALL YV_FindNotification(YV_HANDLE* Notifier,
                                           const YV_NOTIFY_SETTINGS* Settings);
YV_API HRESULT YV_CALL YV_ProcessMessages(YV_HANDLE Notifier, YV_NOTIFY_CALLBACK Callback,
                                          void* UserData);
YV_API HRESULT YV_CALL YV_DeviceEventNotify(uint32_t EventType, void* EventData);

/*
 * Opens a port of PortType by its Name. A YV_PORT_COM name is a path below
 * /dev ("ttyUSB0", "pts/3", "serial/by-id/...") of at most 30 characters: a
 * longer one answers E_INVALIDARG (open such a device by a shorter name that
 * leads to it, such as "ttyUSB0"). A port that another opener holds, or that
 * another running program has locked with a UUCP lock file under any name of
 * the device, answers YV_E_PORT_BUSY.
 */
YV_API HRESULT YV_CALL YV_Open(YV_HANDLE* Port, const char16_t* Name, int32_t PortType,
                               uint32_t BaudRate, char EvChar, uint8_t StopBits);
YV_API HRESULT YV_CALL YV_CloseHandle(YV_HANDLE Handle);
YV_API HRESULT YV_CALL YV_SetBaudAndEvChar(YV_HANDLE Port, uint32_t BaudRate, char EvChar);
YV_API HRESULT YV_CALL YV_GetBaudAndEvChar(YV_HANDLE Port, uint32_t* BaudRate, char* EvChar);
YV_API HRESULT YV_CALL YV_GetFtDriverVersion(YV_HANDLE Port, uint32_t* Version);
YV_API HRESULT YV_CALL YV_Clear(YV_HANDLE Port, YV_BOOL Rx, YV_BOOL Tx);
YV_API HRESULT YV_CALL YV_Write(YV_HANDLE Port, const void* Buf, int32_t Count);
YV_API HRESULT YV_CALL YV_Read(YV_HANDLE Port, void* Buf, int32_t Count, int32_t* Read);
YV_API HRESULT YV_CALL YV_GetInCount(YV_HANDLE Port, int32_t* Count);
YV_API HRESULT YV_CALL YV_StartWaitEvent(YV_HANDLE Port, int* Event);
YV_API HRESULT YV_CALL YV_SetDtr(YV_HANDLE Port, YV_BOOL On);
YV_API HRESULT YV_CALL YV_SetRts(YV_HANDLE Port, YV_BOOL On);

/*
 * Registers serial device type Type->TypeIndex (0..31), or changes it; the
 * library copies what it needs. Pids (PidCount entries, in any order) are
 * the USB product ids, vendor 0x0403, of the type's readers. Two values in
 * the list are no product ids; they decide which plain serial ports (UARTs,
 * ttyACM, adapters that are no reader of a listed id) the listings give:
 *   0x0000  the plain serial ports belong to the type;
 *   0xFFFF  ttyS0 and ttyS1, the machine's first two UARTs, are among them;
 *           without it they are left out.
 * So {0x1234, 0x1235, 0x1237, 0x0000} lists the readers and the plain ports
 * but no ttyS0; with 0xFFFF added, ttyS0 and ttyS1 are listed as well.
 * Without 0x0000 a type gets plain ports only while the kernel's FTDI serial
 * driver is not installed (with type mask 0x7FFFFFFF). Pids NULL keeps the
 * type's list, DescFilter NULL its description filter.
 */
YV_API HRESULT YV_CALL YV_RegSerialDevice(const YV_SERIAL_DEVICE_TYPE* Type);
YV_API HRESULT YV_CALL YV_EnumSerialDevices(uint32_t TypeMask, const YV_PORT_ID* Ports,
                                            int32_t PortCount, YV_ENUM_DEVICES_CALLBACK Callback,
                                            void* UserData, const YV_SCAN_PARAMS* Params,
                                            YV_BOOL Rescan);
YV_API HRESULT YV_CALL YV_FindSerialDevice(uint32_t TypeMask, const YV_PORT_ID* Ports,
                                           int32_t PortCount, void* DevData, int32_t DevDataSize,
                                           YV_PORT_INFO* Info, const YV_SCAN_PARAMS* Params,
                                           YV_BOOL Rescan);
YV_API HRESULT YV_CALL YV_RegIpDevice(const YV_IP_DEVICE_TYPE* Type);
YV_API HRESULT YV_CALL YV_EnumIpDevices(uint32_t TypeMask, YV_ENUM_DEVICES_CALLBACK Callback,
                                        void* UserData, const YV_SCAN_PARAMS* Params,
                                        YV_BOOL Rescan);

/*
 * The text of a library status code (YV_S_CANCELED .. YV_E_BUFFER_TOO_SMALL)
 * in English (1033) or Russian (1049), ending with CR LF. Buffer receives at
 * most BufferLen characters including the terminator; *TextLen (optional)
 * receives the text's length without the terminator, also when the buffer
 * is too small. With Buffer NULL and BufferLen 0 only the length is asked
 * for (YV_E_BUFFER_TOO_SMALL). E_INVALIDARG for an unknown code or language,
 * a negative BufferLen, or no Buffer for a BufferLen above 0.
 */
YV_API HRESULT YV_CALL YV_GetStatusText(HRESULT Code, uint32_t LangId, char16_t* Buffer,
                                        int32_t BufferLen, int32_t* TextLen);

#ifdef __cplusplus
}
#endif

#endif /* YLVANE_H */
