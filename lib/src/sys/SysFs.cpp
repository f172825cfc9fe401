#include "sys/SysFs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "YvSeams.h"
#include "sys/NeverDestroyed.h"

namespace ylvane {

namespace {

// The roots are never destroyed: a host may still list ports from an exit
// handler, and the detector's worker may still be scanning, after the
// run-time has destroyed the statics at exit().
std::mutex g_rootLock;
sys::NeverDestroyed<std::string> g_sysRoot("/sys");
sys::NeverDestroyed<std::string> g_lockDir("/var/lock");
int g_ttyWaitMs = 2000;

}  // namespace

std::string SysRoot() {
  std::lock_guard<std::mutex> lock(g_rootLock);
  return *g_sysRoot;
}

void SetSysRoot(std::string path) {
  std::lock_guard<std::mutex> lock(g_rootLock);
  *g_sysRoot = std::move(path);
}

std::string LockDir() {
  std::lock_guard<std::mutex> lock(g_rootLock);
  return *g_lockDir;
}

void SetLockDir(std::string path) {
  std::lock_guard<std::mutex> lock(g_rootLock);
  *g_lockDir = std::move(path);
}

int UsbTtyWaitMs() {
  std::lock_guard<std::mutex> lock(g_rootLock);
  return g_ttyWaitMs;
}

void SetUsbTtyWaitMs(int ms) {
  std::lock_guard<std::mutex> lock(g_rootLock);
  g_ttyWaitMs = ms;
}

namespace sys {

namespace {

std::optional<std::string> ReadOpen(int fd) {
  if (fd < 0) return std::nullopt;
  // Attributes are small and come whole in one read: a short read is the
  // end. A file that is not one is not read past the buffer.
  char buf[4096];
  ssize_t n;
  do {
    n = read(fd, buf, sizeof buf);
  } while (n < 0 && errno == EINTR);
  close(fd);
  if (n < 0) return std::nullopt;
  std::string text(buf, static_cast<size_t>(n));
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\t' ||
                           text.back() == '\r' || text.back() == '\0'))
    text.pop_back();
  return text;
}

int OpenAt(int dirFd, const char* path, int flags) {
  int fd;
  do {
    fd = openat(dirFd, path, flags | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

constexpr int kAttrFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK;
constexpr int kDirFlags = O_RDONLY | O_DIRECTORY;

// The kernel's directory entries, read straight: a listing is made for
// every entry of a large tree, and the stdio-like reader costs two more
// system calls per folder.
struct LinuxDirent64 {
  uint64_t d_ino;
  int64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[1];
};

std::vector<std::string> ListOpen(int fd) {
  std::vector<std::string> names;
  if (fd < 0) return names;
  alignas(8) char buf[16384];
  for (;;) {
    long n = syscall(SYS_getdents64, fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (long off = 0; off < n;) {
      const auto* e = reinterpret_cast<const LinuxDirent64*>(buf + off);
      if (e->d_reclen == 0) break;
      std::string_view name(e->d_name,
                            strnlen(e->d_name, e->d_reclen - offsetof(LinuxDirent64, d_name)));
      if (name != "." && name != "..") names.emplace_back(name);
      off += e->d_reclen;
    }
  }
  close(fd);
  return names;
}

std::optional<std::string> LinkAt(int dirFd, const char* path) {
  char buf[PATH_MAX];
  ssize_t n = readlinkat(dirFd, path, buf, sizeof buf);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof buf) return std::nullopt;
  return std::string(buf, static_cast<size_t>(n));
}

}  // namespace

std::optional<std::string> ReadAttr(const std::string& path) {
  return ReadOpen(OpenAt(AT_FDCWD, path.c_str(), kAttrFlags));
}

std::vector<std::string> ListDir(const std::string& path) {
  return ListOpen(OpenAt(AT_FDCWD, path.c_str(), kDirFlags));
}

std::optional<std::string> ReadLink(const std::string& path) {
  return LinkAt(AT_FDCWD, path.c_str());
}

std::optional<SysDir> SysDir::Open(const std::string& path) {
  int fd = OpenAt(AT_FDCWD, path.c_str(), kDirFlags);
  if (fd < 0) return std::nullopt;
  return SysDir(fd);
}

std::optional<SysDir> SysDir::Sub(const std::string& name) const {
  int fd = OpenAt(m_fd, name.c_str(), kDirFlags);
  if (fd < 0) return std::nullopt;
  return SysDir(fd);
}

SysDir::~SysDir() {
  if (m_fd >= 0) close(m_fd);
}

std::optional<std::string> SysDir::ReadAttr(const std::string& name) const {
  return ReadOpen(OpenAt(m_fd, name.c_str(), kAttrFlags));
}

// A fresh open of the folder: reading a shared one would move its position.
std::vector<std::string> SysDir::List() const { return ListOpen(OpenAt(m_fd, ".", kDirFlags)); }

std::optional<std::string> SysDir::ReadLink(const std::string& name) const {
  return LinkAt(m_fd, name.c_str());
}

bool SysDir::Has(const std::string& name) const {
  struct stat st {};
  return fstatat(m_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool AnyLine(const std::string& path, bool (*pred)(std::string_view line)) {
  const int fd = OpenAt(AT_FDCWD, path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  std::string pending;  // a line not yet ended
  char buf[16384];
  bool found = false;
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending.append(buf, static_cast<size_t>(n));
    size_t start = 0;
    for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
      if (pred(std::string_view(pending).substr(start, end - start))) {
        found = true;
        break;
      }
    }
    if (found) break;
    pending.erase(0, start);
  }
  close(fd);
  return found || (!pending.empty() && pred(pending));
}

bool IsDir(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool NaturalLess(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      size_t ei = i, ej = j;
      while (ei < a.size() && IsDigit(a[ei])) ++ei;
      while (ej < b.size() && IsDigit(b[ej])) ++ej;
      // Compare by value without converting: leading zeros aside, the
      // longer run is the greater number.
      size_t si = i, sj = j;
      while (si + 1 < ei && a[si] == '0') ++si;
      while (sj + 1 < ej && b[sj] == '0') ++sj;
      std::string_view na = a.substr(si, ei - si), nb = b.substr(sj, ej - sj);
      if (na.size() != nb.size()) return na.size() < nb.size();
      if (na != nb) return na < nb;
      // Equal values: fewer leading zeros first, so the order is total.
      if (ei - i != ej - j) return ei - i < ej - j;
      i = ei;
      j = ej;
      continue;
    }
    if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
    ++i;
    ++j;
  }
  return a.size() - i < b.size() - j;
}

}  // namespace sys
}  // namespace ylvane
