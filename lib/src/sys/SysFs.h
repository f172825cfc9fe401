// Reading sysfs-like trees: small attribute files, folders and links. Paths
// are absolute; nothing here opens a device.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ylvane::sys {

// The text of an attribute file without its trailing white space; nothing
// when it cannot be read.
std::optional<std::string> ReadAttr(const std::string& path);
// The names in a folder, "." and ".." left out; empty when it cannot be read.
std::vector<std::string> ListDir(const std::string& path);
// The target of a symbolic link; nothing when path is no link.
std::optional<std::string> ReadLink(const std::string& path);
bool IsDir(const std::string& path);
// Whether a line of a text file (of any size, read in pieces) satisfies
// pred; false when it cannot be read.
bool AnyLine(const std::string& path, bool (*pred)(std::string_view line));
bool Exists(const std::string& path);

// An open folder of such a tree: its files are reached without walking the
// (deep) path again for each one.
class SysDir {
 public:
  static std::optional<SysDir> Open(const std::string& path);
  std::optional<SysDir> Sub(const std::string& name) const;
  SysDir(SysDir&& o) noexcept : m_fd(o.m_fd) { o.m_fd = -1; }
  SysDir& operator=(SysDir&&) = delete;
  SysDir(const SysDir&) = delete;
  SysDir& operator=(const SysDir&) = delete;
  ~SysDir();

  std::optional<std::string> ReadAttr(const std::string& name) const;
  std::vector<std::string> List() const;
  std::optional<std::string> ReadLink(const std::string& name) const;
  bool Has(const std::string& name) const;

 private:
  explicit SysDir(int fd) : m_fd(fd) {}
  int m_fd;
};

// Name order as people read it: runs of digits compare by value, so
// "ttyS2" comes before "ttyS10".
bool NaturalLess(std::string_view a, std::string_view b);

}  // namespace ylvane::sys
