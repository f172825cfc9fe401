#include "sys/CondBridge.h"

namespace ylvane::sys {

CondRecord* NewCondRecord() {
  auto* r = new CondRecord;
  pthread_mutex_init(&r->mutex, nullptr);
  pthread_cond_init(&r->cond, nullptr);
  r->value = 0;
  return r;
}

CondBridge::CondBridge() { pthread_cond_init(&m_waiting, nullptr); }

CondBridge::~CondBridge() {
  Stop();
  pthread_cond_destroy(&m_waiting);
}

void CondBridge::Start(Event& target, CondRecord* record) {
  Stop();
  m_record = record;
  pthread_mutex_lock(&m_record->mutex);
  m_fStop = false;
  m_fWaits = false;
  try {
    m_thread = std::thread([this, &target] { Run(&target); });
  } catch (...) {
    pthread_mutex_unlock(&m_record->mutex);
    throw;
  }
  // The thread gets the mutex only once we wait here, and gives it back
  // only by waiting on the record.
  while (!m_fWaits) pthread_cond_wait(&m_waiting, &m_record->mutex);
  pthread_mutex_unlock(&m_record->mutex);
}

void CondBridge::Stop() {
  if (!m_thread.joinable()) return;
  pthread_mutex_lock(&m_record->mutex);
  m_fStop = true;
  pthread_cond_broadcast(&m_record->cond);
  pthread_mutex_unlock(&m_record->mutex);
  m_thread.join();
}

void CondBridge::Run(Event* target) {
  pthread_mutex_lock(&m_record->mutex);
  m_fWaits = true;
  pthread_cond_signal(&m_waiting);
  while (!m_fStop) {
    pthread_cond_wait(&m_record->cond, &m_record->mutex);
    // A spurious wake-up only makes the host look for bytes and find none.
    if (!m_fStop) target->Set();
  }
  pthread_mutex_unlock(&m_record->mutex);
}

}  // namespace ylvane::sys
