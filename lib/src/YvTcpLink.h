// What the two TCP port kinds share: the reading of their names, and the
// state of one telnet-framed connection (the bytes the host has not read,
// the decoder, the packets waiting to be sent) with the socket work on it.
//
// A link has no lock of its own: the client port guards it with its lock,
// a server port with its listener's.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <vector>

#include "YvCom.h"
#include "YvRecvBuffer.h"
#include "YvTelnet.h"
#include "sys/Socket.h"

namespace ylvane {

// Keep-alive of every TCP port's connection.
constexpr int kKeepAliveIdleMs = 10000;
constexpr int kKeepAliveIntervalMs = 1000;

// A client port's name: a dotted IPv4 address or a host name, ':', the TCP
// port. E_INVALIDARG for a malformed name, YV_E_PORT_NOT_EXISTS for a host
// the resolver does not know.
HRESULT ClientEndpoint(const char16_t* Name, sys::Endpoint* to);
// A server port's name: the expected peer's dotted IPv4 address, ':', the
// local TCP port (1-65535); anything else is E_INVALIDARG.
HRESULT ServerEndpoint(const char16_t* Name, sys::Endpoint* to);

class CTcpLink {
 public:
  // The most one receive call takes from the socket.
  static constexpr size_t kChunk = 1024;

  enum class IoResult { Ok, PeerClosed, Failed };

  CRecvBuffer& Buffer() { return m_DataBuf; }
  char EvChar() const { return m_chEvChar; }
  uint32_t BaudRate() const { return m_nBaudRate; }
  void SetEvChar(char evChar) { m_chEvChar = evChar; }

  // Queues the bytes as one packet in wire form.
  void QueueWrite(const void* bytes, int32_t count);
  // Queues a SET-BAUDRATE command, then takes both values.
  void QueueBaudRate(uint32_t baudRate, char evChar);
  bool HasQueued() const { return !m_SendQueue.empty(); }

  // Drops what the host has not read and any half-received command; true
  // when a full buffer got room.
  bool ClearRx();
  // Drops the packets not yet sent. The rest of a packet the socket took in
  // part is kept: cutting it would leave the peer inside a command.
  void ClearTx();
  // A fresh start for a new connection of a port opened anew.
  void Reset();

  // Reads the socket until it would block, the buffer is full or keepGoing
  // clears. An error after some data in this call counts as Ok: the data is
  // kept and the error comes back on the next call.
  IoResult Receive(int fd, const std::atomic<bool>& keepGoing);
  // Sends queued packets, in order, until the queue is empty or the socket
  // would block.
  IoResult SendQueued(int fd);

 private:
  CRecvBuffer m_DataBuf;
  CTelnetDecoder m_decoder;
  std::vector<uint8_t> m_decoded;  // one chunk's data bytes, reused
  std::deque<std::vector<uint8_t>> m_SendQueue;
  size_t m_headSent = 0;  // bytes of the first packet the socket already took
  uint32_t m_nBaudRate = 0;
  char m_chEvChar = 0;
};

}  // namespace ylvane
