#include "sys/SysFs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <mutex>

#include "YvSeams.h"

namespace ylvane {

namespace {

std::mutex g_rootLock;
std::string g_sysRoot = "/sys";
std::string g_lockDir = "/var/lock";
int g_ttyWaitMs = 2000;

}  // namespace

std::string SysRoot() {
  std::lock_guard<std::mutex> lock(g_rootLock);
  return g_sysRoot;
}

void SetSysRoot(std::string path) {
  std::lock_guard<std::mutex> lock(g_rootLock);
  g_sysRoot = std::move(path);
}

std::string LockDir() {
  std::lock_guard<std::mutex> lock(g_rootLock);
  return g_lockDir;
}

void SetLockDir(std::string path) {
  std::lock_guard<std::mutex> lock(g_rootLock);
  g_lockDir = std::move(path);
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

std::optional<std::string> ReadAttr(const std::string& path) {
  int fd;
  do {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return std::nullopt;
  // Attributes are small; a file that is not one is not read to its end.
  std::string text;
  char buf[4096];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
    if (text.size() >= sizeof buf) break;
  }
  close(fd);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\t' ||
                           text.back() == '\r' || text.back() == '\0'))
    text.pop_back();
  return text;
}

std::vector<std::string> ListDir(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = opendir(path.c_str());
  if (!dir) return names;
  while (dirent* e = readdir(dir)) {
    std::string_view name(e->d_name);
    if (name != "." && name != "..") names.emplace_back(name);
  }
  closedir(dir);
  return names;
}

std::optional<std::string> ReadLink(const std::string& path) {
  char buf[PATH_MAX];
  ssize_t n = readlink(path.c_str(), buf, sizeof buf);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof buf) return std::nullopt;
  return std::string(buf, static_cast<size_t>(n));
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
