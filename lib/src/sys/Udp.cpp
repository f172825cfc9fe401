#include "sys/Udp.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace ylvane::sys {

std::vector<uint32_t> LocalBroadcastAddresses() {
  std::vector<uint32_t> out;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return out;
  for (ifaddrs* a = list; a; a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
    const unsigned flags = a->ifa_flags;
    if (!(flags & IFF_UP) || !(flags & IFF_BROADCAST) || (flags & IFF_LOOPBACK)) continue;
    const uint32_t addr = reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr;
    if (std::find(out.begin(), out.end(), addr) == out.end()) out.push_back(addr);
  }
  freeifaddrs(list);
  return out;
}

int UdpSocket::Open(uint32_t localAddr) {
  Close();
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return errno;
  const int on = 1;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = localAddr;
  local.sin_port = 0;
  if (setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
      bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    const int err = errno;
    close(fd);
    return err;
  }
  m_fd = fd;
  return 0;
}

void UdpSocket::Close() {
  if (m_fd >= 0) close(m_fd);
  m_fd = -1;
}

int UdpSocket::Broadcast(const void* data, size_t size, uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
  to.sin_port = htons(port);
  for (;;) {
    if (sendto(m_fd, data, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to),
               sizeof to) >= 0)
      return 0;
    if (errno != EINTR) return errno;
  }
}

UdpSocket::Received UdpSocket::Receive(void* buf, size_t capacity, size_t* size, uint32_t* addr,
                                       uint16_t* port) {
  sockaddr_in from{};
  socklen_t fromLen = sizeof from;
  for (;;) {
    // MSG_TRUNC: the datagram's real length, also when it is cut.
    const ssize_t n = recvfrom(m_fd, buf, capacity, MSG_DONTWAIT | MSG_TRUNC,
                               reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n >= 0) {
      *size = static_cast<size_t>(n);
      *addr = from.sin_addr.s_addr;
      *port = ntohs(from.sin_port);
      return Received::Datagram;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return Received::Nothing;
    return Received::Failed;
  }
}

std::u16string AddressText(uint32_t addr, uint16_t port) {
  const auto* b = reinterpret_cast<const unsigned char*>(&addr);
  char text[32];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", b[0], b[1], b[2], b[3], port);
  return std::u16string(text, text + std::char_traits<char>::length(text));
}

}  // namespace ylvane::sys
