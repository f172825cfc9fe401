// A manual-reset event over an eventfd: set = readable until reset. It
// needs nothing else of the library: the program compiles it too, and has
// this folder alone of the library's insides on its include path.
#pragma once

namespace ylvane::sys {

class Event {
 public:
  // Throws std::system_error when no eventfd can be had.
  Event();
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  int Fd() const { return m_fd; }
  void Set();
  void Reset();
  bool IsSet() const;
  // Waits until set or until timeoutMs passes (-1 = no limit); true when set.
  bool Wait(int timeoutMs) const;

 private:
  int m_fd;
};

}  // namespace ylvane::sys
