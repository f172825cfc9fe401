// A shared library loaded at run time and unloaded with its owner.
#pragma once

#include <string>

namespace ylvane::sys {

class DynLib {
 public:
  explicit DynLib(const std::string& path);
  ~DynLib();
  DynLib(const DynLib&) = delete;
  DynLib& operator=(const DynLib&) = delete;

  bool Loaded() const { return m_handle != nullptr; }
  void* Symbol(const char* name) const;

 private:
  void* m_handle;
};

}  // namespace ylvane::sys
