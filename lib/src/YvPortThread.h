// The own thread of a TCP port or listener: the flag that keeps it going and
// the event that wakes it from its poll(). Stopping clears the flag, wakes
// the thread and joins it; a thread is never left running or detached.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "sys/event/Event.h"

namespace ylvane {

class CPortThread {
 public:
  CPortThread() = default;
  // The owner stops the thread before its own members go.
  ~CPortThread() { Stop(); }
  CPortThread(const CPortThread&) = delete;
  CPortThread& operator=(const CPortThread&) = delete;

  // Runs body on a new thread with the flag set; throws (flag clear again)
  // when no thread can be had.
  void Start(std::function<void()> body);
  // Nothing when no thread was started.
  void Stop();
  bool Started() const { return m_thread.joinable(); }

  bool Running() const { return m_running; }
  const std::atomic<bool>& RunningFlag() const { return m_running; }
  // The thread ends itself: it leaves its loop at the next look at the flag.
  void EndFromInside() { m_running = false; }

  int WakeFd() const { return m_wake.Fd(); }
  void Wake() { m_wake.Set(); }
  void ResetWake() { m_wake.Reset(); }
  // A pause that Stop cuts short.
  void Pause(int ms) { m_wake.Wait(ms); }

 private:
  std::atomic<bool> m_running{false};
  sys::Event m_wake;
  std::thread m_thread;
};

}  // namespace ylvane
