// A serial device played by a test thread on the master side of a real pty:
// it hears what the port writes and answers each request it knows, piece by
// piece, after the delays given. It keeps a slave descriptor of its own
// open, so that the master never reports a hang-up while no port holds the
// slave; that descriptor neither reads nor locks the line.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Pty.h"

class PtyDevice {
 public:
  struct Piece {
    int delayMs;  // after the request was heard
    std::string bytes;
  };
  // What the device says to a request; no pieces: it stays silent.
  using Answers = std::map<std::string, std::vector<Piece>>;

  explicit PtyDevice(Answers answers = {}) : answers_(std::move(answers)) {
    slave_ = open(pty_.Path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    stop_ = eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread([this] { Loop(); });
  }
  ~PtyDevice() {
    uint64_t one = 1;
    if (write(stop_, &one, sizeof one) != sizeof one) {
    }
    thread_.join();
    close(stop_);
    if (slave_ >= 0) close(slave_);
  }
  PtyDevice(const PtyDevice&) = delete;
  PtyDevice& operator=(const PtyDevice&) = delete;

  bool Ok() const { return pty_.Ok() && slave_ >= 0 && stop_ >= 0; }
  const char16_t* Name() const { return pty_.Name(); }
  const std::string& Path() const { return pty_.Path(); }

  // How often the device heard a request.
  int Heard(const std::string& request) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return HeardLocked(request);
  }
  // The same, once the device heard it at least atLeast times or timeoutMs
  // passed: the port's last write may still be on its way to the device's
  // thread when the port's user is done.
  int Heard(const std::string& request, int atLeast, int timeoutMs = 5000) const {
    std::unique_lock<std::mutex> lock(mutex_);
    heardChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return HeardLocked(request) >= atLeast; });
    return HeardLocked(request);
  }

  // Whether some port has set the line up since the device was made (a
  // fresh pty is in canonical mode; the port makes it raw).
  bool WasOpened() const {
    termios t{};
    return tcgetattr(slave_, &t) == 0 && !(t.c_lflag & ICANON);
  }

  // The device goes away as soon as it hears a request.
  void HangUpOnRequest() {
    std::lock_guard<std::mutex> lock(mutex_);
    hangUp_ = true;
  }

 private:
  using Clock = std::chrono::steady_clock;

  void Loop() {
    std::string input;
    std::vector<std::pair<Clock::time_point, std::string>> due;
    for (;;) {
      int timeout = -1;
      if (!due.empty()) {
        auto next = std::min_element(due.begin(), due.end())->first;
        auto ms = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
        timeout = static_cast<int>(std::max<int64_t>(ms, 0));
      }
      pollfd fds[2] = {{stop_, POLLIN, 0}, {pty_.Master(), POLLIN, 0}};
      const nfds_t n = pty_.Master() >= 0 ? 2 : 1;
      poll(fds, n, timeout);
      if (fds[0].revents) return;
      if (n == 2 && (fds[1].revents & POLLIN)) {
        char buf[256];
        ssize_t got = read(pty_.Master(), buf, sizeof buf);
        if (got > 0) input.append(buf, static_cast<size_t>(got));
        if (Hear(input, due)) {
          pty_.CloseMaster();
          due.clear();
        }
      }
      const auto now = Clock::now();
      std::sort(due.begin(), due.end());
      while (!due.empty() && due.front().first <= now) {
        pty_.Send(due.front().second);
        due.erase(due.begin());
      }
    }
  }

  int HeardLocked(const std::string& request) const {
    auto it = heard_.find(request);
    return it == heard_.end() ? 0 : it->second;
  }

  // Takes the requests out of the input; true when the device should go.
  bool Hear(std::string& input,
            std::vector<std::pair<Clock::time_point, std::string>>& due) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (;;) {
      size_t best = std::string::npos;
      const std::string* request = nullptr;
      for (const auto& [req, pieces] : answers_) {
        size_t at = input.find(req);
        if (at < best) {
          best = at;
          request = &req;
        }
      }
      if (!request) return false;
      ++heard_[*request];
      heardChanged_.notify_all();
      if (hangUp_) return true;
      const auto now = Clock::now();
      for (const Piece& p : answers_.at(*request))
        due.emplace_back(now + std::chrono::milliseconds(p.delayMs), p.bytes);
      input.erase(0, best + request->size());
    }
  }

  TestPty pty_;
  Answers answers_;
  int slave_ = -1;
  int stop_ = -1;
  mutable std::mutex mutex_;
  mutable std::condition_variable heardChanged_;
  std::map<std::string, int> heard_;
  bool hangUp_ = false;
  std::thread thread_;
};
