// UDP for the network discovery: the local addresses to broadcast from, and
// a socket bound to one of them that broadcasts out of its interface and
// takes the replies one datagram at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ylvane::sys {

// The IPv4 addresses (network byte order) of the interfaces that are up,
// can broadcast and are no loopback, in the system's order, each once.
std::vector<uint32_t> LocalBroadcastAddresses();

class UdpSocket {
 public:
  UdpSocket() = default;
  ~UdpSocket() { Close(); }
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  // A non-blocking socket allowed to broadcast, bound to the local address
  // (network byte order) and a free port. 0 or an errno value.
  int Open(uint32_t localAddr);
  void Close();
  bool IsOpen() const { return m_fd >= 0; }
  int Fd() const { return m_fd; }

  // Sends to the limited broadcast address (255.255.255.255) on port; it
  // leaves through the interface of the bound address. 0 or an errno value.
  int Broadcast(const void* data, size_t size, uint16_t port);

  enum class Received { Datagram, Nothing, Failed };
  // Takes the next waiting datagram into buf. *size is its full length,
  // which is more than capacity when it did not fit. The sender's address is
  // in network byte order, its port in host order.
  Received Receive(void* buf, size_t capacity, size_t* size, uint32_t* addr, uint16_t* port);

 private:
  int m_fd = -1;
};

// "192.168.1.20:4000"
std::u16string AddressText(uint32_t addr, uint16_t port);

}  // namespace ylvane::sys
