// Waiting for any of several descriptors (events, sockets) to become
// readable, the way the scans wait for all their ports at once.
#pragma once

#include <poll.h>

#include <chrono>
#include <cstdint>
#include <vector>

namespace ylvane::sys {

class WaitSet {
 public:
  void Clear() { m_fds.clear(); }
  // Returns the position of fd in the set.
  size_t Add(int fd);
  size_t Size() const { return m_fds.size(); }
  enum class Result {
    Ready,    // a descriptor has something to say
    Nothing,  // the time ran out, or a signal cut the wait short: wait again
    Failed,   // the system refused the wait (no memory, too many entries):
              // waiting again would fail the same way
  };
  // Waits until one descriptor is readable, closed or not open at all, or
  // until timeoutMs passes (-1 = no limit).
  Result Wait(int timeoutMs);
  // After a Wait: the descriptor has something to say (readable, hung up).
  bool Ready(size_t i) const { return m_fds[i].revents != 0; }
  // After a Wait: the descriptor is not open; it will never be signalled.
  bool Invalid(size_t i) const { return (m_fds[i].revents & POLLNVAL) != 0; }

 private:
  std::vector<pollfd> m_fds;
};

// Whether a scan's abort event is signalled now, without waiting; false
// for no event (0 or below).
bool AbortSignalled(int fd);

// Milliseconds left until a deadline, 0 once it has passed, for a poll
// limit; at most slice when slice is above 0.
int MsLeft(std::chrono::steady_clock::time_point deadline, int32_t slice = -1);

}  // namespace ylvane::sys
