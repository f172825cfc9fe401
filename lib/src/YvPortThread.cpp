#include "YvPortThread.h"

namespace ylvane {

void CPortThread::Start(std::function<void()> body) {
  m_wake.Reset();
  m_running = true;
  try {
    m_thread = std::thread(std::move(body));
  } catch (...) {
    m_running = false;
    throw;
  }
}

void CPortThread::Stop() {
  if (!m_thread.joinable()) return;
  m_running = false;
  m_wake.Set();
  m_thread.join();
}

}  // namespace ylvane
