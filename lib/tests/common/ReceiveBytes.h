// Reading what a port under test sent, from the descriptor of the test's end
// (a pty master, a socket), with a time limit.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>

// Milliseconds from now until end, at least 0.
inline int MsLeft(std::chrono::steady_clock::time_point end) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Everything that arrives on fd within timeoutMs, up to want bytes; less when
// the other side stops or closes first.
inline std::string ReceiveBytes(int fd, size_t want, int timeoutMs) {
  std::string got;
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (got.size() < want) {
    int left = MsLeft(end);
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, left) <= 0) break;
    char buf[65536];
    ssize_t n = read(fd, buf, std::min(sizeof buf, want - got.size()));
    if (n <= 0) break;
    got.append(buf, static_cast<size_t>(n));
  }
  return got;
}
