#include "sys/UucpLock.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "YvSeams.h"

namespace ylvane::sys {

namespace {

constexpr std::string_view kLockPrefix = "LCK..";
constexpr std::string_view kDevDir = "/dev/";

// The live process a lock file names, or 0.
pid_t LiveLockOwner(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return 0;
  char buf[64];
  ssize_t n;
  do {
    n = read(fd, buf, sizeof buf);
  } while (n < 0 && errno == EINTR);
  close(fd);
  // A file that fills the buffer is longer than any lock.
  if (n <= 0 || n == ssize_t(sizeof buf)) return 0;
  pid_t owner = LockFileOwner(std::string_view(buf, size_t(n)));
  if (owner <= 0) return 0;
  // EPERM: the process exists but belongs to someone else.
  return kill(owner, 0) == 0 || errno == EPERM ? owner : 0;
}

// The names a lock gives a device path below /dev: its last part, and the
// whole path below /dev with '_' for '/'. One name for a device directly
// below /dev.
void AddLockNames(const std::string& path, std::vector<std::string>& names) {
  if (path.compare(0, kDevDir.size(), kDevDir) != 0 || path.size() == kDevDir.size()) return;
  std::string below = path.substr(kDevDir.size());
  names.push_back(below.substr(below.rfind('/') + 1));
  std::replace(below.begin(), below.end(), '/', '_');
  if (below != names.back()) names.push_back(std::move(below));
}

bool IsDevice(const std::string& path, dev_t dev) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == dev;
}

bool IsOtherDevice(const std::string& path, dev_t dev) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev != dev;
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Whether a lock name read as a path below folder, each '_' in it either
// itself or a '/', leads to the device. Only folders that exist make a
// '/', so few readings are tried; budget bounds them all the same.
bool UnderscoredPathIsDevice(const std::string& folder, std::string_view name, dev_t dev,
                             int& budget) {
  if (--budget < 0) return false;
  if (IsDevice(folder + std::string(name), dev)) return true;
  for (size_t i = name.find('_'); i != std::string_view::npos; i = name.find('_', i + 1)) {
    const std::string_view part = name.substr(0, i);
    if (part == "." || part == "..") continue;
    const std::string sub = folder + std::string(part);
    if (IsFolder(sub) && UnderscoredPathIsDevice(sub + "/", name.substr(i + 1), dev, budget))
      return true;
  }
  return false;
}

// Whether the device a lock's name stands for is dev: a node directly
// below /dev, a pty by its number, or a path below /dev written with '_'
// for '/'.
bool LockNamesDevice(std::string_view name, dev_t dev) {
  const bool number =
      std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (number && IsDevice("/dev/pts/" + std::string(name), dev)) return true;
  int budget = 64;
  return UnderscoredPathIsDevice(std::string(kDevDir), name, dev, budget);
}

}  // namespace

pid_t LockFileOwner(std::string_view content) {
  if (content.size() == sizeof(int32_t)) {
    int32_t v;
    std::memcpy(&v, content.data(), sizeof v);
    return v > 0 ? static_cast<pid_t>(v) : 0;
  }
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  size_t i = 0;
  const size_t n = content.size() - (!content.empty() && content.back() == '\n' ? 1 : 0);
  while (i < n && blank(content[i])) ++i;
  int64_t v = 0;
  const size_t first = i;
  for (; i < n && digit(content[i]); ++i) {
    v = v * 10 + (content[i] - '0');
    if (v > INT32_MAX) return 0;
  }
  if (i == first) return 0;
  while (i < n && blank(content[i])) ++i;
  return i == n ? static_cast<pid_t>(v) : 0;
}

bool TtyLockedByLiveProcess(const std::string& tty) {
  if (tty.empty() || tty.find('/') != std::string::npos) return false;
  return LiveLockOwner(LockDir() + "/" + std::string(kLockPrefix) + tty) != 0;
}

bool DeviceLockedByOtherProcess(const std::string& path, const std::string& finalPath, dev_t dev) {
  std::vector<std::string> names;
  AddLockNames(path, names);
  AddLockNames(finalPath, names);
  const std::string dir = LockDir();
  DIR* d = opendir(dir.c_str());
  if (!d) return false;
  bool locked = false;
  while (!locked) {
    const dirent* e = readdir(d);
    if (!e) break;
    const std::string_view file(e->d_name);
    if (file.size() <= kLockPrefix.size() || file.substr(0, kLockPrefix.size()) != kLockPrefix)
      continue;
    const std::string_view name = file.substr(kLockPrefix.size());
    // A name the path gives is the lock of another device when a node of
    // that name below /dev is one: "serial/by-id/x" gives "x", and so does
    // a device "/dev/x" of its own.
    const bool given = std::find(names.begin(), names.end(), name) != names.end() &&
                       !IsOtherDevice("/dev/" + std::string(name), dev);
    if (!given && !LockNamesDevice(name, dev)) continue;
    const pid_t owner = LiveLockOwner(dir + "/" + std::string(file));
    locked = owner != 0 && owner != getpid();
  }
  closedir(d);
  return locked;
}

}  // namespace ylvane::sys
