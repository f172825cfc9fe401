// The exported C interface. Every export is a thin shell: it checks its
// arguments, hands on to the library object or to the port behind a handle,
// and returns a status. Nothing thrown crosses it.
#include <cstring>

#include "YvFtLib.h"
#include "YvHandOff.h"
#include "YvLib.h"
#include "YvMessages.h"
#include "YvNotifier.h"
#include "YvPort.h"

using namespace ylvane;

namespace {

constexpr uint32_t kVersion = 0x00010B01;  // 1.11.1

// The port behind a handle, by its run-time type; null for anything else.
IYvPort* AsPort(YV_HANDLE h) {
  return h ? dynamic_cast<CYvPort*>(static_cast<IUnknown*>(h)) : nullptr;
}

IYvNotifier* AsNotifier(YV_HANDLE h) {
  return h ? dynamic_cast<IYvNotifier*>(static_cast<IUnknown*>(h)) : nullptr;
}

// Library-level shape: no object, no call.
template <class F>
HRESULT WithLib(F&& f) {
  return GuardStatus([&]() -> HRESULT {
    LibRef lib;
    if (!lib) return YV_E_NOT_INITIALIZED;
    return f(*lib.get());
  });
}

// Port-level shape: the library object is not looked at.
template <class F>
HRESULT WithPort(YV_HANDLE h, F&& f) {
  IYvPort* port = AsPort(h);
  if (!port) return E_INVALIDARG;
  return GuardStatus([&] { return f(*port); });
}

}  // namespace

extern "C" {

YV_API uint32_t YV_CALL YV_GetVersion(void) { return kVersion; }

YV_API HRESULT YV_CALL YV_GetFtLibVersion(uint32_t* Version) {
  if (!Version) return E_INVALIDARG;
  return GuardStatus([&] { return GetFtLibVersion(Version); });
}

YV_API HRESULT YV_CALL YV_Initialize(uint32_t Flags) { return CYvLib::Initialize(Flags); }

YV_API HRESULT YV_CALL YV_Finalyze(void) {
  try {
    CYvLib::Finalyze();
  } catch (...) {
  }
  return S_OK;
}

YV_API HRESULT YV_CALL YV_EnumSerialPorts(uint32_t TypeMask, YV_ENUM_PORTS_CALLBACK Callback,
                                          void* UserData) {
  return WithLib([&](CYvLib& lib) { return lib.EnumSerialPorts(TypeMask, Callback, UserData); });
}

YV_API HRESULT YV_CALL YV_FindNotification(YV_HANDLE* Notifier,
                                           const YV_NOTIFY_SETTINGS* Settings) {
  return WithLib([&](CYvLib& lib) { return lib.FindNotification(Notifier, Settings); });
}

YV_API HRESULT YV_CALL YV_ProcessMessages(YV_HANDLE Notifier, YV_NOTIFY_CALLBACK Callback,
                                          void* UserData) {
  return WithLib([&](CYvLib&) -> HRESULT {
    IYvNotifier* notifier = AsNotifier(Notifier);
    if (!notifier) return E_INVALIDARG;
    return notifier->ProcessMessages(Callback, UserData);
  });
}

YV_API HRESULT YV_CALL YV_DeviceEventNotify(uint32_t EventType, void* EventData) {
  try {
    LibRef lib;
    if (lib) lib->DeviceEventNotify(EventType, EventData);
  } catch (...) {
  }
  return S_OK;
}

YV_API HRESULT YV_CALL YV_Open(YV_HANDLE* Port, const char16_t* Name, int32_t PortType,
                               uint32_t BaudRate, char EvChar, uint8_t StopBits) {
  return WithLib(
      [&](CYvLib& lib) { return lib.Open(Port, Name, PortType, BaudRate, EvChar, StopBits); });
}

YV_API HRESULT YV_CALL YV_CloseHandle(YV_HANDLE Handle) {
  if (!Handle) return E_INVALIDARG;
  return GuardStatus([&] {
    static_cast<IUnknown*>(Handle)->Release();
    return S_OK;
  });
}

YV_API HRESULT YV_CALL YV_SetBaudAndEvChar(YV_HANDLE Port, uint32_t BaudRate, char EvChar) {
  return WithPort(Port, [&](IYvPort& p) { return p.SetBaudAndEvChar(BaudRate, EvChar); });
}

YV_API HRESULT YV_CALL YV_GetBaudAndEvChar(YV_HANDLE Port, uint32_t* BaudRate, char* EvChar) {
  return WithPort(Port, [&](IYvPort& p) { return p.GetBaudAndEvChar(BaudRate, EvChar); });
}

YV_API HRESULT YV_CALL YV_GetFtDriverVersion(YV_HANDLE Port, uint32_t* Version) {
  return WithPort(Port, [&](IYvPort& p) -> HRESULT {
    if (!Version) return E_INVALIDARG;
    if (p.GetType() != YV_PORT_FT) return E_NOINTERFACE;
    return GetFtDriverVersion(p, Version);
  });
}

YV_API HRESULT YV_CALL YV_Clear(YV_HANDLE Port, YV_BOOL Rx, YV_BOOL Tx) {
  return WithPort(Port, [&](IYvPort& p) { return p.Clear(Rx, Tx); });
}

YV_API HRESULT YV_CALL YV_Write(YV_HANDLE Port, const void* Buf, int32_t Count) {
  return WithPort(Port, [&](IYvPort& p) -> HRESULT {
    if (!Buf || Count <= 0) return E_INVALIDARG;
    return p.Write(Buf, Count);
  });
}

YV_API HRESULT YV_CALL YV_Read(YV_HANDLE Port, void* Buf, int32_t Count, int32_t* Read) {
  return WithPort(Port, [&](IYvPort& p) -> HRESULT {
    // A missing count pointer is refused rather than written through.
    if (!Buf || Count <= 0 || !Read) return E_INVALIDARG;
    return p.Read(Buf, Count, Read);
  });
}

YV_API HRESULT YV_CALL YV_GetInCount(YV_HANDLE Port, int32_t* Count) {
  return WithPort(Port, [&](IYvPort& p) -> HRESULT {
    if (!Count) return E_INVALIDARG;
    return p.GetInCount(Count);
  });
}

YV_API HRESULT YV_CALL YV_StartWaitEvent(YV_HANDLE Port, int* Event) {
  return WithPort(Port, [&](IYvPort& p) -> HRESULT {
    if (!Event) return E_INVALIDARG;
    return p.StartWaitEvent(Event);
  });
}

YV_API HRESULT YV_CALL YV_SetDtr(YV_HANDLE Port, YV_BOOL On) {
  return WithPort(Port, [&](IYvPort& p) { return p.SetDtr(On); });
}

YV_API HRESULT YV_CALL YV_SetRts(YV_HANDLE Port, YV_BOOL On) {
  return WithPort(Port, [&](IYvPort& p) { return p.SetRts(On); });
}

YV_API HRESULT YV_CALL YV_RegSerialDevice(const YV_SERIAL_DEVICE_TYPE* Type) {
  return WithLib([&](CYvLib& lib) { return lib.RegSerialDevice(Type); });
}

YV_API HRESULT YV_CALL YV_EnumSerialDevices(uint32_t TypeMask, const YV_PORT_ID* Ports,
                                            int32_t PortCount, YV_ENUM_DEVICES_CALLBACK Callback,
                                            void* UserData, const YV_SCAN_PARAMS* Params,
                                            YV_BOOL Rescan) {
  return WithLib([&](CYvLib& lib) {
    return lib.EnumSerialDevices(TypeMask, Ports, PortCount, Callback, UserData, Params, Rescan);
  });
}

YV_API HRESULT YV_CALL YV_FindSerialDevice(uint32_t TypeMask, const YV_PORT_ID* Ports,
                                           int32_t PortCount, void* DevData, int32_t DevDataSize,
                                           YV_PORT_INFO* Info, const YV_SCAN_PARAMS* Params,
                                           YV_BOOL Rescan) {
  return WithLib([&](CYvLib& lib) {
    return lib.FindSerialDevice(TypeMask, Ports, PortCount, DevData, DevDataSize, Info, Params,
                                Rescan);
  });
}

YV_API HRESULT YV_CALL YV_RegIpDevice(const YV_IP_DEVICE_TYPE* Type) {
  return WithLib([&](CYvLib& lib) { return lib.RegIpDevice(Type); });
}

YV_API HRESULT YV_CALL YV_EnumIpDevices(uint32_t TypeMask, YV_ENUM_DEVICES_CALLBACK Callback,
                                        void* UserData, const YV_SCAN_PARAMS* Params,
                                        YV_BOOL Rescan) {
  return WithLib([&](CYvLib& lib) {
    return lib.EnumIpDevices(TypeMask, Callback, UserData, Params, Rescan);
  });
}

YV_API HRESULT YV_CALL YV_GetStatusText(HRESULT Code, uint32_t LangId, char16_t* Buffer,
                                        int32_t BufferLen, int32_t* TextLen) {
  const char16_t* text = StatusText(Code, LangId);
  // No buffer is only a question for the length.
  if (!text || BufferLen < 0 || (!Buffer && BufferLen != 0)) return E_INVALIDARG;
  const size_t len = std::char_traits<char16_t>::length(text);
  if (TextLen) *TextLen = static_cast<int32_t>(len);
  if (static_cast<size_t>(BufferLen) < len + 1) return YV_E_BUFFER_TOO_SMALL;
  std::memcpy(Buffer, text, (len + 1) * sizeof(char16_t));
  return S_OK;
}

}  // extern "C"
