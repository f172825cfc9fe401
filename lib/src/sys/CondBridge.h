// The FTDI driver library tells of received characters by signalling a
// condition-variable record; hosts wait on an eventfd. A thread of ours
// waits on the record and sets the event.
#pragma once

#include <pthread.h>

#include <thread>

#include "sys/Event.h"

namespace ylvane::sys {

// The record handed to the driver: it signals the condition while holding
// the mutex, so a signal never falls between two waits of ours.
struct CondRecord {
  pthread_cond_t cond;
  pthread_mutex_t mutex;
};

class CondBridge {
 public:
  CondBridge();
  ~CondBridge();
  CondBridge(const CondBridge&) = delete;
  CondBridge& operator=(const CondBridge&) = delete;

  // What the driver is given; valid as long as the bridge lives.
  CondRecord* Record() { return &m_record; }
  // Starts the thread and returns once it waits on the record, so that no
  // signal from then on is missed. Throws std::system_error.
  void Start(Event& target);
  // Wakes the thread and joins it; nothing when it is not running.
  void Stop();

 private:
  void Run(Event* target);

  CondRecord m_record;
  pthread_cond_t m_waiting;  // tells Start that the thread waits
  // Both under m_record.mutex.
  bool m_fStop = false;
  bool m_fWaits = false;
  std::thread m_thread;
};

}  // namespace ylvane::sys
