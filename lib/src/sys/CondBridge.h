// The FTDI driver library tells of received characters by signalling a
// condition-variable record; hosts wait on an eventfd. A thread of ours
// waits on the record and sets the event.
#pragma once

#include <pthread.h>

#include <thread>

#include "sys/event/Event.h"

namespace ylvane::sys {

// The record handed to the driver, in the driver's own shape: it signals
// the condition while holding the mutex (so a signal never falls between
// two waits of ours), and writes the int as it does. We never read the int.
struct CondRecord {
  pthread_cond_t cond;
  pthread_mutex_t mutex;
  int value;
};

// A record of its own allocation, sized exactly as the driver's, and its
// end. Its owner keeps it as long as the driver may signal it.
CondRecord* NewCondRecord();
void DeleteCondRecord(CondRecord* record);

class CondBridge {
 public:
  CondBridge();
  ~CondBridge();
  CondBridge(const CondBridge&) = delete;
  CondBridge& operator=(const CondBridge&) = delete;

  // The record the bridge waits on while it runs; null before the first
  // Start.
  CondRecord* Record() const { return m_record; }
  // Starts the thread on record and returns once it waits there, so that
  // no signal from then on is missed. Throws std::system_error.
  void Start(Event& target, CondRecord* record);
  // Wakes the thread and joins it; nothing when it is not running. The
  // record is not the bridge's: it stays as it is.
  void Stop();

 private:
  void Run(Event* target);

  CondRecord* m_record = nullptr;
  pthread_cond_t m_waiting;  // tells Start that the thread waits
  // Both under m_record->mutex.
  bool m_fStop = false;
  bool m_fWaits = false;
  std::thread m_thread;
};

}  // namespace ylvane::sys
