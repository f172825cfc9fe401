#include "sys/Socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "YvSeams.h"

namespace ylvane {

namespace {
HostLookupFn g_hostLookup = nullptr;
}

HostLookupFn HostLookup() { return g_hostLookup ? g_hostLookup : &getaddrinfo; }
void SetHostLookup(HostLookupFn fn) { g_hostLookup = fn; }

}  // namespace ylvane

namespace ylvane::sys {

bool ParseIPv4(const std::string& text, uint32_t* addr) {
  in_addr a{};
  if (inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
  *addr = a.s_addr;
  return true;
}

ResolveResult ResolveIPv4(const std::string& host, uint32_t* addr) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const int rc = HostLookup()(host.c_str(), nullptr, &hints, &list);
  if (rc == EAI_NONAME || rc == EAI_NODATA || rc == EAI_ADDRFAMILY) return ResolveResult::NotFound;
  if (rc != 0) return ResolveResult::Failed;
  ResolveResult result = ResolveResult::NotFound;
  for (addrinfo* ai = list; ai; ai = ai->ai_next) {
    if (ai->ai_family == AF_INET && ai->ai_addr) {
      *addr = reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
      result = ResolveResult::Found;
      break;
    }
  }
  freeaddrinfo(list);
  return result;
}

namespace {

sockaddr_in ToSockaddr(uint32_t addr, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = addr;
  sa.sin_port = htons(port);
  return sa;
}

}  // namespace

int TcpSocket(int* err) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) *err = errno;
  return fd;
}

void SetKeepAlive(int fd, int idleMs, int intervalMs) {
  // The kernel counts these in whole seconds.
  int on = 1;
  int idle = idleMs / 1000 > 0 ? idleMs / 1000 : 1;
  int interval = intervalMs / 1000 > 0 ? intervalMs / 1000 : 1;
  setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
}

int Connect(int fd, const Endpoint& to) {
  sockaddr_in sa = ToSockaddr(to.addr, to.port);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) return 0;
  // An interrupted connect goes on in the background, like one in progress.
  return errno == EINTR ? EINPROGRESS : errno;
}

int ConnectResult(int fd) {
  int error = 0;
  socklen_t len = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) return errno;
  return error;
}

int TcpListen(uint16_t port, int backlog, int* err) {
  int fd = TcpSocket(err);
  if (fd < 0) return -1;
  // Lets a port be listened on again at once after the last connection on
  // it closed; a port some other socket listens on is still refused.
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in sa = ToSockaddr(htonl(INADDR_ANY), port);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, backlog) != 0) {
    *err = errno;
    close(fd);
    return -1;
  }
  return fd;
}

int TcpAccept(int listenFd, uint32_t* peerAddr, int* err) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  for (;;) {
    int fd = accept4(listenFd, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
      if (sa.sin_family != AF_INET) {
        close(fd);
        *err = EAFNOSUPPORT;
        return -1;
      }
      *peerAddr = sa.sin_addr.s_addr;
      return fd;
    }
    if (errno == EINTR) continue;
    *err = errno;
    return -1;
  }
}

ssize_t SendSome(int fd, const void* bytes, size_t count, int* err) {
  for (;;) {
    ssize_t n = send(fd, bytes, count, MSG_NOSIGNAL);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    *err = errno;
    return -1;
  }
}

ssize_t ReceiveSome(int fd, void* bytes, size_t count, int* err) {
  for (;;) {
    ssize_t n = recv(fd, bytes, count, 0);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    *err = errno;
    return -1;
  }
}

void ShutdownBoth(int fd) { shutdown(fd, SHUT_RDWR); }

void CloseSocket(int fd) {
  if (fd >= 0) close(fd);
}

}  // namespace ylvane::sys
