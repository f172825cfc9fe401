#include "YvRecvBuffer.h"

#include <algorithm>
#include <cstring>

namespace ylvane {

void CRecvBuffer::Append(const uint8_t* bytes, size_t count, char evChar) {
  if (count == 0) return;
  m_buf.insert(m_buf.end(), bytes, bytes + count);
  if (evChar == 0 || std::memchr(bytes, static_cast<unsigned char>(evChar), count) || Full())
    m_event.Set();
}

size_t CRecvBuffer::Take(void* out, size_t count, bool* madeRoom) {
  const bool wasFull = Full();
  const size_t n = std::min(count, m_buf.size());
  if (n > 0) std::memcpy(out, m_buf.data(), n);
  m_buf.erase(m_buf.begin(), m_buf.begin() + static_cast<ptrdiff_t>(n));
  *madeRoom = wasFull && n > 0;
  return n;
}

bool CRecvBuffer::Discard() {
  const bool wasFull = Full();
  m_buf.clear();
  return wasFull;
}

void CRecvBuffer::Rearm(char evChar, bool ended) {
  m_event.Reset();
  if (ended || WantsReading(evChar)) m_event.Set();
}

bool CRecvBuffer::WantsReading(char evChar) const {
  if (m_buf.empty()) return false;
  if (Full()) return true;
  return evChar == 0 ||
         std::find(m_buf.begin(), m_buf.end(), static_cast<uint8_t>(evChar)) != m_buf.end();
}

}  // namespace ylvane
