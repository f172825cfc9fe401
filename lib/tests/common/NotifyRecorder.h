// Records the notification callbacks a notifier receives, with copies of
// their payloads, and lets a test wait for them.
#pragma once

#include <dirent.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ylvane.h"

struct Notice {
  uint32_t kind = 0;
  std::thread::id thread;
  YV_EXIST_NMSG exist{};
  YV_CHANGE_NMSG change{};
  YV_ERROR_NMSG error{};
  std::vector<uint8_t> data, oldData;  // copies of the device data, 8 bytes at most here
};

class NotifyRecorder {
 public:
  static YV_BOOL YV_CALL Callback(uint32_t kind, const void* payload, void* user) {
    static_cast<NotifyRecorder*>(user)->Add(kind, payload);
    return 1;
  }

  void Add(uint32_t kind, const void* payload) {
    Notice n;
    n.kind = kind;
    n.thread = std::this_thread::get_id();
    auto copy = [](const void* p) {
      const auto* b = static_cast<const uint8_t*>(p);
      return p ? std::vector<uint8_t>(b, b + 8) : std::vector<uint8_t>();
    };
    if (kind == YV_NMSG_ARRIVAL || kind == YV_NMSG_REMOVAL) {
      std::memcpy(&n.exist, payload, sizeof n.exist);
      n.data = copy(n.exist.DevData);
    } else if (kind == YV_NMSG_CHANGE) {
      std::memcpy(&n.change, payload, sizeof n.change);
      n.data = copy(n.change.NewDevData);
      n.oldData = copy(n.change.OldDevData);
    } else if (kind == YV_NMSG_ERROR) {
      std::memcpy(&n.error, payload, sizeof n.error);
    }
    std::lock_guard<std::mutex> lock(m_);
    got_.push_back(n);
    cv_.notify_all();
  }

  // Waits until count notices have come, at most timeoutMs.
  bool WaitFor(size_t count, int timeoutMs = 5000) {
    std::unique_lock<std::mutex> lock(m_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [&] { return got_.size() >= count; });
  }

  std::vector<Notice> Got() {
    std::lock_guard<std::mutex> lock(m_);
    return got_;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<Notice> got_;
};

inline std::u16string Text(const char16_t* field) { return std::u16string(field); }

// The threads of this process.
inline int ThreadCount() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') ++n;
    closedir(d);
  }
  return n;
}

// Polls cond every 5 ms for at most timeoutMs.
template <class F>
bool Eventually(F cond, int timeoutMs = 5000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}
