#include "VirtualReader.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace testtools {

VirtualReader::VirtualReader() {
  int on = 1;
  m_ok = m_pty.Ok() && ioctl(m_pty.Master(), TIOCPKT, &on) == 0;
}

bool VirtualReader::WaitOpened(int ATimeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(ATimeoutMs);
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{m_pty.Master(), POLLIN | POLLPRI, 0};
    const int ready = poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) continue;
    if (!(p.revents & (POLLIN | POLLPRI))) {
      // Hung up: a program had the port open and closed it. Nothing wakes
      // us when the next one opens it, so look again shortly.
      usleep(static_cast<useconds_t>(std::min<long>(left, 20)) * 1000);
      continue;
    }
    unsigned char packet[4096];
    const ssize_t n = read(m_pty.Master(), packet, sizeof packet);
    // A packet is either data the program wrote (first byte 0) or one
    // status byte.
    if (n >= 1 && packet[0] != TIOCPKT_DATA && (packet[0] & TIOCPKT_FLUSHREAD)) return true;
  }
}

bool VirtualReader::LineSetUp() const {
  // The master reads the line settings of its slave.
  termios t{};
  return tcgetattr(m_pty.Master(), &t) == 0 && !(t.c_lflag & ICANON);
}

bool VirtualReader::Send(const std::string& AText) {
  size_t done = 0;
  while (done < AText.size()) {
    const ssize_t n = write(m_pty.Master(), AText.data() + done, AText.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace testtools
