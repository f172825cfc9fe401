// A serial port by its name under /dev.
//
// The tty has no event-character wait on Linux, so every open port has a
// reader thread that drains the device into a bounded buffer and signals the
// receive event when the event character arrives (or on any byte when there
// is none). Read, GetInCount and the re-arm work on that buffer.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "YvPort.h"
#include "YvRecvBuffer.h"
#include "sys/event/Event.h"

namespace ylvane {

class CYvVComPort final : public CYvPort {
 public:
  // When the buffer holds this much, the reader stops reading and the
  // kernel throttles the line.
  static constexpr size_t kBufferLimit = CRecvBuffer::kLimit;
  static constexpr size_t kMaxNameLength = 30;

  CYvVComPort();
  ~CYvVComPort() override;

  // The device path of a port name, or nothing when the name cannot name a
  // device: empty, longer than kMaxNameLength, an empty, "." or ".."
  // component, or not valid UTF-16.
  static std::optional<std::string> DevicePath(const char16_t* Name);

  int32_t GetType() override { return YV_PORT_COM; }
  HRESULT Open(const char16_t* Name, uint32_t BaudRate, char EvChar, uint8_t StopBits) override;
  void Close() override;
  YV_BOOL IsOpened() override { return m_hFile >= 0; }
  HRESULT SetBaudAndEvChar(uint32_t BaudRate, char EvChar) override;
  HRESULT GetBaudAndEvChar(uint32_t* BaudRate, char* EvChar) override;
  HRESULT Clear(YV_BOOL Rx, YV_BOOL Tx) override;
  HRESULT Write(const void* Buf, int32_t Count) override;
  HRESULT Read(void* Buf, int32_t Count, int32_t* Read) override;
  HRESULT GetInCount(int32_t* Count) override;
  HRESULT StartWaitEvent(int* Event) override;
  HRESULT SetDtr(YV_BOOL On) override;
  HRESULT SetRts(YV_BOOL On) override;

 private:
  void ReaderLoop();
  void MarkGone();
  void MarkGoneLocked();
  // Status of a failed I/O call: the device going away is "closed from the
  // outside", anything else a communication error.
  HRESULT IoFailure(int err);
  HRESULT ModemLine(int line, bool on);
  // With m_bufLock held: wakes the reader when this made room in a full buffer.
  void MadeRoom(bool madeRoom);

  int m_hFile = -1;
  sys::Event m_evReader;  // wakes the reader: stop, or room in the buffer
  std::atomic<char> m_chEvChar{0};
  std::atomic<bool> m_fStop{false};
  std::atomic<bool> m_fGone{false};
  std::mutex m_bufLock;
  CRecvBuffer m_buf;  // with the receive event, which lives as long as the port
  std::thread m_reader;
};

}  // namespace ylvane
