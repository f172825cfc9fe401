#include "sys/Tty.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace ylvane::sys {

namespace {

TtyOpenFailure FailureOf(int err) {
  switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return TtyOpenFailure::NotExists;
    case EBUSY:
    case EWOULDBLOCK:
      return TtyOpenFailure::Busy;
    case EACCES:
    case EPERM:
    case EROFS:
      return TtyOpenFailure::Denied;
    default:
      return TtyOpenFailure::Other;
  }
}

TtyOpenResult Fail(int fd, int err, TtyOpenFailure failure) {
  if (fd >= 0) close(fd);
  return TtyOpenResult{-1, failure, err};
}

}  // namespace

TtyOpenResult TtyOpen(const std::string& path) {
  int fd;
  do {
    fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return Fail(-1, errno, FailureOf(errno));
  if (!isatty(fd)) return Fail(fd, ENOTTY, TtyOpenFailure::NotExists);
  // flock makes the port exclusive between openers of this machine, root
  // included (root is not stopped by TIOCEXCL).
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int err = errno;
    return Fail(fd, err, err == EWOULDBLOCK ? TtyOpenFailure::Busy : FailureOf(err));
  }
  if (ioctl(fd, TIOCEXCL) != 0) {
    int err = errno;
    return Fail(fd, err, FailureOf(err));
  }
  return TtyOpenResult{fd, TtyOpenFailure::None, 0};
}

int TtyFlush(int fd, bool rx, bool tx) {
  if (!rx && !tx) return 0;
  int what = rx && tx ? TCIOFLUSH : rx ? TCIFLUSH : TCOFLUSH;
  return tcflush(fd, what) == 0 ? 0 : errno;
}

int TtySetModemLine(int fd, int lines, bool on) {
  int bits = ((lines & TtyDtr) ? TIOCM_DTR : 0) | ((lines & TtyRts) ? TIOCM_RTS : 0);
  return ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0 ? 0 : errno;
}

}  // namespace ylvane::sys
