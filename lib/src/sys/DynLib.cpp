#include "sys/DynLib.h"

#include <dlfcn.h>

namespace ylvane::sys {

DynLib::DynLib(const std::string& path) : m_handle(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {}

DynLib::~DynLib() {
  if (m_handle) dlclose(m_handle);
}

void* DynLib::Symbol(const char* name) const { return m_handle ? dlsym(m_handle, name) : nullptr; }

}  // namespace ylvane::sys
