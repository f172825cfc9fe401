// The library as the TCP server of one expected device. A server port's
// name is the peer's dotted IPv4 address, ':', the local TCP port to listen
// on.
//
// All server ports on one local TCP port share one listener: one listening
// socket, one thread and one lock. The thread accepts connections, hands each
// to the first open port that expects the peer's address, and does all socket
// work of its ports. A port whose connection ended never gets another: the
// host closes it and opens a new one, which then waits for the next call.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "YvPort.h"
#include "YvPortThread.h"
#include "YvTcpLink.h"

namespace ylvane {

class CIPSPortListen;

class CIPSPort final : public CYvPort {
 public:
  CIPSPort() = default;
  ~CIPSPort() override;

  int32_t GetType() override { return YV_PORT_IPS; }
  HRESULT Open(const char16_t* Name, uint32_t BaudRate, char EvChar, uint8_t StopBits) override;
  void Close() override;
  // True from Open until Close, also before the device calls and after its
  // connection ended.
  YV_BOOL IsOpened() override { return m_pListen != nullptr; }
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
  friend class CIPSPortListen;

  // Runs f under the listener's lock (the port has none of its own).
  template <class F>
  HRESULT Locked(F&& f);

  // Changed by the host's Open and Close only; the rest below is guarded by
  // the listener's lock while the port is attached.
  CIPSPortListen* m_pListen = nullptr;
  int m_socket = -1;        // the device's connection; -1 until it calls
  uint32_t m_dwPeerAddr = 0;  // the expected peer, network byte order
  bool m_bClosed = true;    // connection ended or port closed: no further one
  CTcpLink m_link;
};

// One local TCP port's listening socket and thread, shared by the server
// ports on it. The listeners live in a process-wide table from the first
// Open on their TCP port until the last port on it is closed.
class CIPSPortListen {
 public:
  explicit CIPSPortListen(uint16_t port) : m_nPort(port) {}
  // Stops the thread when it still runs.
  ~CIPSPortListen();
  CIPSPortListen(const CIPSPortListen&) = delete;
  CIPSPortListen& operator=(const CIPSPortListen&) = delete;

  // Starts the listener when it is not running yet, then serves the port.
  HRESULT AttachPort(CIPSPort* port);
  // The listener lets go of the port: its connection is closed and the
  // thread does not touch it again.
  void DetachPort(CIPSPort* port);
  bool HasPorts();
  // Ends the thread and closes the listening socket.
  void Stop();

  std::recursive_mutex& Lock() { return m_cs; }
  // A port queued something: the thread sends it.
  void Wake() { m_thread.Wake(); }

 private:
  HRESULT Start();
  void ThreadLoop();
  void AcceptConnections();
  // With m_cs held: the port's connection is gone for good.
  void DropConnection(CIPSPort* port, bool shutdown);
  // With m_cs held: whether the port is still attached with this connection.
  bool Serves(CIPSPort* port, int fd) const;

  const uint16_t m_nPort;
  std::recursive_mutex m_cs;
  std::vector<CIPSPort*> m_Ports;  // attached, in the order of attaching
  int m_socket = -1;  // listening
  CPortThread m_thread;  // last, so it goes first
};

}  // namespace ylvane
