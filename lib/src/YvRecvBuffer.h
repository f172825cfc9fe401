// What a port has received and the host has not read yet, with the port's
// receive event. Shared by the port kinds whose own thread fills a buffer:
// the serial port's reader and the TCP ports' socket threads.
//
// The buffer has no lock of its own: each port guards it with the lock that
// also guards the rest of its receive state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sys/event/Event.h"

namespace ylvane {

class CRecvBuffer {
 public:
  // When the buffer holds this much, the filling thread stops reading and
  // the line (or the TCP window) throttles the sender.
  static constexpr size_t kLimit = 64 * 1024;

  CRecvBuffer() { m_buf.reserve(kLimit); }

  // The receive event; it lives as long as the buffer.
  int EventFd() const { return m_event.Fd(); }
  // Wakes a host waiting on the receive event.
  void Signal() { m_event.Set(); }

  size_t Size() const { return m_buf.size(); }
  bool Empty() const { return m_buf.empty(); }
  bool Full() const { return m_buf.size() >= kLimit; }
  size_t Space() const { return Full() ? 0 : kLimit - m_buf.size(); }

  // Stores received bytes (no more than Space()). The event is signalled
  // when they hold the event character, any byte without one (0), or when
  // they fill the buffer: a line longer than the buffer is read on rather
  // than stalling the port.
  void Append(const uint8_t* bytes, size_t count, char evChar);
  // Moves up to count bytes to out and returns how many. *madeRoom tells
  // whether a full buffer got room, so the filling thread must be woken.
  size_t Take(void* out, size_t count, bool* madeRoom);
  // Discards everything; true when a full buffer got room.
  bool Discard();
  // Re-arms the event for a host about to wait. What is already buffered
  // and wants reading (or, with ended, the end of the input) signals at
  // once, so no wake-up is lost between a read and the re-arm.
  void Rearm(char evChar, bool ended);

 private:
  bool WantsReading(char evChar) const;

  std::vector<uint8_t> m_buf;
  sys::Event m_event;
};

}  // namespace ylvane
