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
#include <string>

#include "sys/UucpLock.h"

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

// The controlling terminal of this process, from the kernel's own account
// of it (0: none, or no /proc to tell).
dev_t ControllingTerminal() {
  const int fd = open("/proc/self/stat", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char buf[1024];
  ssize_t n;
  do {
    n = read(fd, buf, sizeof buf - 1);
  } while (n < 0 && errno == EINTR);
  close(fd);
  if (n <= 0) return 0;
  buf[n] = 0;
  // "pid (name) state ppid pgrp session tty_nr ...": the name may hold
  // anything, so the fields are counted from its last ')'.
  const char* p = std::strrchr(buf, ')');
  char state = 0;
  long ppid = 0, pgrp = 0, session = 0;
  unsigned long tty = 0;
  if (!p || std::sscanf(p + 1, " %c %ld %ld %ld %lu", &state, &ppid, &pgrp, &session, &tty) != 5)
    return 0;
  // The kernel's encoding: minor in bits 0-7 and 20-31, major in bits 8-19.
  const unsigned maj = (tty >> 8) & 0xFFF;
  const unsigned min = (tty & 0xFF) | ((tty >> 12) & 0xFFF00);
  return tty == 0 ? 0 : makedev(maj, min);
}

// Whether a device is the terminal this process runs on: its controlling
// terminal or a standard stream's. Opening it as a port would switch the
// user's own terminal to raw mode, and leave it so.
bool IsOwnTerminal(dev_t dev) {
  for (int fd = 0; fd <= 2; ++fd) {
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == dev) return true;
  }
  const dev_t ctty = ControllingTerminal();
  return ctty != 0 && ctty == dev;
}

// The kernel's name of the file a path finally leads to, asked of a
// descriptor that only names the file (O_PATH opens no device). Not
// realpath(): the device test bed's interposer mangles its answer for a link
// that leads out of the bed, and overruns the caller's buffer doing so.
std::string FinalPath(const std::string& path) {
  const int fd = open(path.c_str(), O_PATH | O_CLOEXEC);
  if (fd < 0) return {};
  char buf[PATH_MAX];
  const ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), buf, sizeof buf);
  close(fd);
  return n > 0 && n < ssize_t(sizeof buf) ? std::string(buf, size_t(n)) : std::string();
}

}  // namespace

TtyOpenResult TtyOpen(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return Fail(-1, errno, FailureOf(errno));
  if (!S_ISCHR(st.st_mode) || !IsTerminalDevice(st.st_rdev) || IsOwnTerminal(st.st_rdev))
    return Fail(-1, ENOTTY, TtyOpenFailure::NotExists);
  // Another live program may have marked the device as its own with a UUCP
  // lock file, by this name or by another one. We write no lock of our own.
  if (DeviceLockedByOtherProcess(path, FinalPath(path), st.st_rdev))
    return Fail(-1, EBUSY, TtyOpenFailure::Busy);
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
