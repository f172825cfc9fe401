// TCP over IPv4 for the TCP ports: non-blocking sockets that the ports'
// threads wait on with poll(). Calls answer 0 or an errno value.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace ylvane::sys {

// An IPv4 address in network byte order and a TCP port in host order.
struct Endpoint {
  uint32_t addr = 0;
  uint16_t port = 0;
};

// A dotted IPv4 address ("192.168.0.10") in network byte order.
bool ParseIPv4(const std::string& text, uint32_t* addr);

enum class ResolveResult { Found, NotFound, Failed };
// The first IPv4 address of a host name, through the resolver seam.
ResolveResult ResolveIPv4(const std::string& host, uint32_t* addr);

// A new non-blocking TCP socket; -1 with *err on failure.
int TcpSocket(int* err);
// Keep-alive probes after idleMs without traffic, then every intervalMs.
void SetKeepAlive(int fd, int idleMs, int intervalMs);
// 0 when connected at once, EINPROGRESS when the outcome comes later
// (writable, then ConnectResult), else the errno value.
int Connect(int fd, const Endpoint& to);
// The outcome of a connect that was in progress.
int ConnectResult(int fd);

// A listening socket on every local address; -1 with *err on failure (the
// port in use is EADDRINUSE).
int TcpListen(uint16_t port, int backlog, int* err);
// The next waiting connection, non-blocking, with the peer's address; -1
// with *err (EAGAIN: none waiting).
int TcpAccept(int listenFd, uint32_t* peerAddr, int* err);

// Bytes sent (never raising SIGPIPE), or -1 with *err.
ssize_t SendSome(int fd, const void* bytes, size_t count, int* err);
// Bytes received, 0 when the peer has closed, or -1 with *err.
ssize_t ReceiveSome(int fd, void* bytes, size_t count, int* err);

void ShutdownBoth(int fd);
void CloseSocket(int fd);

}  // namespace ylvane::sys
