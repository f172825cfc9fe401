// The far end of a TCP port in tests, on real loopback sockets: a device
// behind a serial-over-TCP server (for the client port) or a device that
// calls in (for the server port). It speaks the wire form and takes apart
// what the port sends with a telnet reading of its own.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ReceiveBytes.h"

// One end of a connection.
class TcpConn {
 public:
  explicit TcpConn(int fd = -1) : fd_(fd) {}
  ~TcpConn() { Close(); }
  TcpConn(TcpConn&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  TcpConn& operator=(TcpConn&& o) noexcept {
    if (this != &o) {
      Close();
      fd_ = o.fd_;
      o.fd_ = -1;
    }
    return *this;
  }

  // A connection to 127.0.0.1:port (blocking connect), from the loopback
  // address given: all of 127.0.0.0/8 is this host.
  static TcpConn To(uint16_t port, const char* from = "127.0.0.1") {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in src{};
    src.sin_family = AF_INET;
    inet_pton(AF_INET, from, &src.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&src), sizeof src) != 0) {
      close(fd);
      return TcpConn();
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
      close(fd);
      fd = -1;
    }
    return TcpConn(fd);
  }

  bool Ok() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  bool Send(const std::string& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  // The raw bytes that arrive within timeoutMs, up to want bytes.
  std::string Receive(size_t want, int timeoutMs = 2000) const {
    return ReceiveBytes(fd_, want, timeoutMs);
  }

  // True when the other side closed (or reset) the connection within timeoutMs.
  bool ClosedByPeer(int timeoutMs = 2000) const {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      int left = MsLeft(end);
      if (left <= 0) return false;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, left) <= 0) return false;
      char buf[4096];
      ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) return true;
    }
  }

 private:
  int fd_;
};

// A listening socket on 127.0.0.1 and a free port.
class TcpListener {
 public:
  // On the given port, or on one the system picks (0).
  explicit TcpListener(uint16_t port = 0) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(port);
    socklen_t len = sizeof sa;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd_, 8) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
      close(fd_);
      fd_ = -1;
      return;
    }
    port_ = ntohs(sa.sin_port);
  }
  ~TcpListener() {
    if (fd_ >= 0) close(fd_);
  }
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  bool Ok() const { return fd_ >= 0; }
  uint16_t Port() const { return port_; }
  std::u16string Name(const std::string& host = "127.0.0.1") const {
    std::string s = host + ":" + std::to_string(port_);
    return std::u16string(s.begin(), s.end());
  }

  TcpConn Accept(int timeoutMs = 2000) const {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return TcpConn();
    return TcpConn(accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC));
  }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// A loopback port number nobody listens on right now.
inline uint16_t UnusedTcpPort() {
  TcpListener l;
  return l.Port();
}

// A port the port under test may listen on. It lies below the range the
// system picks connections' own ports from, so no connection of a test
// running meanwhile takes it before the port under test binds it; the start
// differs from process to process.
inline uint16_t FreeListenPort() {
  unsigned low = 32768;
  if (FILE* f = std::fopen("/proc/sys/net/ipv4/ip_local_port_range", "r")) {
    if (std::fscanf(f, "%u", &low) != 1) low = 32768;
    std::fclose(f);
  }
  const unsigned first = 10000;
  if (low <= first + 100) return UnusedTcpPort();
  static unsigned next = first + (static_cast<unsigned>(getpid()) * 7919u) % (low - first);
  for (unsigned tries = 0; tries < low - first; ++tries) {
    const auto port = static_cast<uint16_t>(first + (next++ - first) % (low - first));
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    const bool free = bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    close(fd);
    if (free) return port;
  }
  return 0;
}

// What a telnet peer makes of the bytes a port sent: the data, and the
// payload of every subnegotiation (IAC SB ... IAC SE, unescaped).
struct TelnetWire {
  std::string data;
  std::vector<std::string> commands;
  bool complete = true;  // false when it ends inside a command
};

inline TelnetWire ReadTelnet(const std::string& wire) {
  TelnetWire out;
  for (size_t i = 0; i < wire.size(); ++i) {
    const auto b = static_cast<uint8_t>(wire[i]);
    if (b != 0xFF) {
      out.data += wire[i];
      continue;
    }
    if (i + 1 >= wire.size()) {
      out.complete = false;
      break;
    }
    const auto c = static_cast<uint8_t>(wire[++i]);
    if (c == 0xFF) {
      out.data += '\xFF';
    } else if (c == 0xFA) {
      std::string payload;
      bool ended = false;
      while (++i < wire.size()) {
        const auto d = static_cast<uint8_t>(wire[i]);
        if (d != 0xFF) {
          payload += wire[i];
          continue;
        }
        if (++i >= wire.size()) break;
        if (static_cast<uint8_t>(wire[i]) == 0xF0) {
          ended = true;
          break;
        }
        payload += wire[i];  // IAC IAC
      }
      if (!ended) out.complete = false;
      out.commands.push_back(payload);
    } else {
      out.commands.push_back(std::string(1, static_cast<char>(c)));
    }
  }
  return out;
}

// Bytes from a list of values, for tables of wire forms.
inline std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}
