// A serial device behind a serial-over-TCP server: the library is the TCP
// client. The port's name is a host (name or dotted IPv4 address), ':', the
// TCP port.
//
// Each open port has a worker thread that does all the socket work:
// connecting, sending what the host queued, receiving and decoding. The
// host's calls only touch the port's buffers under its lock and return at
// once, so Open returns before the connection stands and Write before the
// bytes are sent. A lost connection is not made again: the host closes the
// port and opens a new one.
#pragma once

#include <mutex>

#include "YvPort.h"
#include "YvPortThread.h"
#include "YvTcpLink.h"

namespace ylvane {

class CIPPort final : public CYvPort {
 public:
  CIPPort() = default;
  ~CIPPort() override;

  int32_t GetType() override { return YV_PORT_IP; }
  HRESULT Open(const char16_t* Name, uint32_t BaudRate, char EvChar, uint8_t StopBits) override;
  void Close() override;
  YV_BOOL IsOpened() override;
  HRESULT SetBaudAndEvChar(uint32_t BaudRate, char EvChar) override;
  HRESULT GetBaudAndEvChar(uint32_t* BaudRate, char* EvChar) override;
  HRESULT Clear(YV_BOOL Rx, YV_BOOL Tx) override;
  HRESULT Write(const void* Buf, int32_t Count) override;
  HRESULT Read(void* Buf, int32_t Count, int32_t* Read) override;
  HRESULT GetInCount(int32_t* Count) override;
  HRESULT StartWaitEvent(int* Event) override;
  HRESULT SetDtr(YV_BOOL) override { return S_OK; }
  HRESULT SetRts(YV_BOOL) override { return S_OK; }

 private:
  void WorkerThread();
  // With m_cs held: the connection is gone for good.
  void LoseConnection(bool shutdown);
  // With m_cs held: wakes the worker when a full buffer got room.
  void MadeRoom(bool madeRoom);

  std::recursive_mutex m_cs;
  int m_socket = -1;  // -1 before Open, after Close and after the loss
  CTcpLink m_link;    // guarded by m_cs; holds the receive event
  bool m_bConnected = false;  // the worker's own
  // Runs while the port is open and connecting or connected; woken for new
  // packets, room in the buffer and Close. Last, so it goes first.
  CPortThread m_worker;
};

}  // namespace ylvane
