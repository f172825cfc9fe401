#include "sys/WaitSet.h"

#include <algorithm>
#include <cerrno>

namespace ylvane::sys {

size_t WaitSet::Add(int fd) {
  m_fds.push_back(pollfd{fd, POLLIN, 0});
  return m_fds.size() - 1;
}

WaitSet::Result WaitSet::Wait(int timeoutMs) {
  for (pollfd& p : m_fds) p.revents = 0;
  const int n = poll(m_fds.data(), m_fds.size(), timeoutMs);
  if (n > 0) return Result::Ready;
  if (n == 0 || errno == EINTR) return Result::Nothing;
  return Result::Failed;
}

bool AbortSignalled(int fd) {
  if (fd <= 0) return false;
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

int MsLeft(std::chrono::steady_clock::time_point deadline, int32_t slice) {
  const auto left = deadline - std::chrono::steady_clock::now();
  if (left <= std::chrono::steady_clock::duration::zero()) return 0;
  // Rounded up: a wait that ends a fraction early only costs another round.
  int64_t ms = std::min<int64_t>(std::chrono::ceil<std::chrono::milliseconds>(left).count(),
                                 0x7FFFFFFF);
  if (slice > 0) ms = std::min<int64_t>(ms, slice);
  return static_cast<int>(ms);
}

}  // namespace ylvane::sys
