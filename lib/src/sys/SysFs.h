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
bool Exists(const std::string& path);

// Name order as people read it: runs of digits compare by value, so
// "ttyS2" comes before "ttyS10".
bool NaturalLess(std::string_view a, std::string_view b);

}  // namespace ylvane::sys
