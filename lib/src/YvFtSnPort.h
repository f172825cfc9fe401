// An FTDI USB serial device opened by its serial number through the chip
// maker's driver library, which is loaded while at least one such port is
// open.
//
// The driver signals a condition-variable record when characters arrive; a
// bridge thread of the port turns that into the port's receive event.
#pragma once

#include <atomic>
#include <cstdint>

#include "YvPort.h"
#include "sys/CondBridge.h"
#include "sys/event/Event.h"

namespace ylvane {

// The driver functions a port calls, bound when the library is loaded.
// These are our own declarations of them.
struct FtPortFuncs {
  using Handle = void*;
  uint32_t (*OpenEx)(void* arg, uint32_t flags, Handle* handle) = nullptr;
  uint32_t (*Close)(Handle h) = nullptr;
  uint32_t (*SetBaudRate)(Handle h, uint32_t baud) = nullptr;
  uint32_t (*SetDataCharacteristics)(Handle h, uint8_t bits, uint8_t stopBits,
                                     uint8_t parity) = nullptr;
  uint32_t (*SetFlowControl)(Handle h, uint16_t flow, uint8_t xon, uint8_t xoff) = nullptr;
  uint32_t (*SetChars)(Handle h, uint8_t evChar, uint8_t evEnabled, uint8_t errChar,
                       uint8_t errEnabled) = nullptr;
  uint32_t (*SetTimeouts)(Handle h, uint32_t readMs, uint32_t writeMs) = nullptr;
  uint32_t (*Purge)(Handle h, uint32_t mask) = nullptr;
  uint32_t (*SetEventNotification)(Handle h, uint32_t mask, void* record) = nullptr;
  uint32_t (*Write)(Handle h, void* buf, uint32_t count, uint32_t* written) = nullptr;
  uint32_t (*Read)(Handle h, void* buf, uint32_t count, uint32_t* read) = nullptr;
  uint32_t (*GetStatus)(Handle h, uint32_t* rxBytes, uint32_t* txBytes, uint32_t* events) = nullptr;
  uint32_t (*SetDtr)(Handle h) = nullptr;
  uint32_t (*ClrDtr)(Handle h) = nullptr;
  uint32_t (*SetRts)(Handle h) = nullptr;
  uint32_t (*ClrRts)(Handle h) = nullptr;
};

class CYvFtSnPort final : public CYvPort {
 public:
  // A serial number is passed to the driver as UTF-8 with its terminator
  // in this many bytes.
  static constexpr size_t kSerialBuffer = 32;
  static constexpr uint32_t kReadTimeoutMs = 5000;
  static constexpr uint32_t kWriteTimeoutMs = 1000;

  CYvFtSnPort() = default;
  ~CYvFtSnPort() override;

  int32_t GetType() override { return YV_PORT_FT; }
  HRESULT Open(const char16_t* Name, uint32_t BaudRate, char EvChar, uint8_t StopBits) override;
  void Close() override;
  YV_BOOL IsOpened() override { return m_hFt != nullptr; }
  HRESULT SetBaudAndEvChar(uint32_t BaudRate, char EvChar) override;
  HRESULT GetBaudAndEvChar(uint32_t* BaudRate, char* EvChar) override;
  HRESULT Clear(YV_BOOL Rx, YV_BOOL Tx) override;
  HRESULT Write(const void* Buf, int32_t Count) override;
  HRESULT Read(void* Buf, int32_t Count, int32_t* Read) override;
  HRESULT GetInCount(int32_t* Count) override;
  HRESULT StartWaitEvent(int* Event) override;
  HRESULT SetDtr(YV_BOOL On) override;
  HRESULT SetRts(YV_BOOL On) override;

  HRESULT GetFtDriverVersion(uint32_t* Version);

 private:
  // Load or count; and count down, unloading at zero. Under the load lock.
  static HRESULT LoadFtLibrary();
  static void UnloadFtLibrary();
  // A port counted in takes an event record for the driver; counted out,
  // it gives the record back, or strands it when the driver refused to
  // close the port's handle and so may still signal it.
  static HRESULT CountPortIn(FtPortFuncs& funcs, sys::CondRecord*& record);
  static void CountPortOut(sys::CondRecord* record, bool AStranded);

  // Status of a failed driver call. A device that is no longer there
  // (the driver says so, or its device list lacks the serial number) is
  // "closed from the outside", and a waiting host is woken to learn it.
  HRESULT Failure(uint32_t status);
  bool DeviceListed() const;
  // Closed, or known to be gone: the answer before any driver call.
  HRESULT Unusable() const;
  HRESULT Line(uint32_t (*on)(void*), uint32_t (*off)(void*), YV_BOOL On);

  void* m_hFt = nullptr;
  sys::Event m_hEvent;  // the receive event; lives as long as the port
  uint32_t m_dwBaud = 0;
  char m_chEvChar = 0;
  FtPortFuncs m_ft;  // this port's copy of the bound functions while open
  sys::CondBridge m_bridge;  // on the driver's record while the port is open
  std::atomic<bool> m_fGone{false};
};

}  // namespace ylvane
