#include "sys/UucpLock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "YvSeams.h"

namespace ylvane::sys {

namespace {

// The process id of a lock file's content: ten ASCII digits padded with
// blanks (the usual form), or a binary int of 4 bytes (the old one).
pid_t LockOwner(const char* buf, size_t n) {
  size_t i = 0;
  while (i < n && (buf[i] == ' ' || buf[i] == '\t')) ++i;
  if (i < n && buf[i] >= '0' && buf[i] <= '9') {
    long v = 0;
    while (i < n && buf[i] >= '0' && buf[i] <= '9' && v < 0x7FFFFFFF) v = v * 10 + (buf[i++] - '0');
    return v > 0 && v < 0x7FFFFFFF ? static_cast<pid_t>(v) : 0;
  }
  if (n == sizeof(int32_t)) {
    int32_t v;
    std::memcpy(&v, buf, sizeof v);
    return v > 0 ? static_cast<pid_t>(v) : 0;
  }
  return 0;
}

// The live process a port's lock file names, or 0.
pid_t LiveLockOwner(const std::string& tty) {
  if (tty.empty() || tty.find('/') != std::string::npos) return 0;
  const std::string path = LockDir() + "/LCK.." + tty;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return 0;
  char buf[64];
  ssize_t n;
  do {
    n = read(fd, buf, sizeof buf);
  } while (n < 0 && errno == EINTR);
  close(fd);
  if (n <= 0) return 0;
  pid_t owner = LockOwner(buf, static_cast<size_t>(n));
  if (owner <= 0) return 0;
  // EPERM: the process exists but belongs to someone else.
  return kill(owner, 0) == 0 || errno == EPERM ? owner : 0;
}

}  // namespace

bool TtyLockedByLiveProcess(const std::string& tty) { return LiveLockOwner(tty) != 0; }

bool TtyLockedByOtherProcess(const std::string& tty) {
  const pid_t owner = LiveLockOwner(tty);
  return owner != 0 && owner != getpid();
}

}  // namespace ylvane::sys
