#include "Event.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace ylvane::sys {

Event::Event() : m_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (m_fd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  // Hosts take a descriptor of 0 or below for "no event"; a process started
  // with its standard streams closed would get exactly that. Keep events
  // above the standard streams.
  if (m_fd < 3) {
    const int moved = fcntl(m_fd, F_DUPFD_CLOEXEC, 3);
    const int err = errno;
    close(m_fd);
    m_fd = moved;
    if (m_fd < 0) throw std::system_error(err, std::generic_category(), "fcntl");
  }
}

Event::~Event() { close(m_fd); }

void Event::Set() {
  // The counter only grows; a full counter (EAGAIN) is still "set".
  uint64_t one = 1;
  while (write(m_fd, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void Event::Reset() {
  uint64_t value;
  while (read(m_fd, &value, sizeof value) < 0 && errno == EINTR) {
  }
}

bool Event::IsSet() const { return Wait(0); }

bool Event::Wait(int timeoutMs) const {
  pollfd p{m_fd, POLLIN, 0};
  for (;;) {
    int n = poll(&p, 1, timeoutMs);
    if (n >= 0) return n > 0;
    if (errno != EINTR) return false;
  }
}

}  // namespace ylvane::sys
