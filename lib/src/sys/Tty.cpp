#include "sys/Tty.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ylvane::sys {

namespace {

TtyOpenFailure FailureOf(int err) {
  switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
    case EISDIR:
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

// Whether a character device belongs to the terminal subsystem, judged
// without opening it: opening some devices has effects of its own (a
// watchdog starts counting, a modem line is raised).
bool IsTerminalDevice(dev_t dev) {
  const unsigned maj = major(dev), min = minor(dev);
  // Terminals that are no serial line: the controlling terminal, the system
  // console and the pty multiplexer (major 5), and the virtual consoles
  // (major 4 below 64). Opening them would reconfigure the user's own
  // terminal or create a new pty.
  if (maj == 5 || (maj == 4 && min < 64)) return false;
  if (maj >= 136 && maj <= 143) return true;  // pseudo-terminal slaves have no sysfs entry
  struct stat sysfs {};
  if (stat("/sys/dev/char", &sysfs) != 0) return true;  // no sysfs: the open decides
  char link[64];
  std::snprintf(link, sizeof link, "/sys/dev/char/%u:%u/subsystem", maj, min);
  char target[PATH_MAX];
  if (!realpath(link, target)) return false;
  const char* base = std::strrchr(target, '/');
  return base && std::strcmp(base, "/tty") == 0;
}

}  // namespace

TtyOpenResult TtyOpen(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return Fail(-1, errno, FailureOf(errno));
  if (!S_ISCHR(st.st_mode) || !IsTerminalDevice(st.st_rdev))
    return Fail(-1, ENOTTY, TtyOpenFailure::NotExists);
  int fd;
  do {
    fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return Fail(-1, errno, FailureOf(errno));
  // The node may have been replaced between the look and the open.
  struct stat opened {};
  if (fstat(fd, &opened) != 0 || opened.st_rdev != st.st_rdev || !isatty(fd))
    return Fail(fd, ENOTTY, TtyOpenFailure::NotExists);
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

void TtyClose(int fd) {
  // Exclusive use ends with ours, even when someone else keeps it open.
  ioctl(fd, TIOCNXCL);
  close(fd);
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
