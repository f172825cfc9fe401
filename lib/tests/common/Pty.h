// A real pseudo-terminal for tests: the port opens the slave by its name
// ("pts/N"), the test plays the device on the master.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "ReceiveBytes.h"

class TestPty {
 public:
  TestPty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    char buf[64];
    if (ptsname_r(master_, buf, sizeof buf) != 0) return;
    path_ = buf;                  // "/dev/pts/N"
    name_ = path_.substr(5);      // "pts/N"
    for (char c : name_) name16_ += static_cast<char16_t>(c);
  }
  ~TestPty() { CloseMaster(); }
  TestPty(const TestPty&) = delete;
  TestPty& operator=(const TestPty&) = delete;

  bool Ok() const { return master_ >= 0 && !name_.empty(); }
  int Master() const { return master_; }
  const std::string& Path() const { return path_; }
  const char16_t* Name() const { return name16_.c_str(); }

  // The device going away.
  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

  bool Send(const std::string& bytes) const {
    return write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }

  // Everything the port wrote within timeoutMs, up to want bytes.
  std::string Receive(size_t want, int timeoutMs = 2000) const {
    return ReceiveBytes(master_, want, timeoutMs);
  }

  // True when the slave side has been closed by everyone (reads give EIO).
  bool SlaveClosed(int timeoutMs = 2000) const {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 50) > 0 && (p.revents & POLLHUP)) return true;
    } while (std::chrono::steady_clock::now() < end);
    return false;
  }

 private:
  int master_ = -1;
  std::string path_;
  std::string name_;
  std::u16string name16_;
};

// Whether an event descriptor becomes readable within timeoutMs.
inline bool Signalled(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN);
}
