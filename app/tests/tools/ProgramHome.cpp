#include "ProgramHome.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>

namespace testtools {

namespace fs = std::filesystem;

std::string ReadFileText(const fs::path& AFile) {
  std::ifstream in(AFile, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

ProgramHome::ProgramHome() {
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/sorvex-home.XXXXXX";
  if (!mkdtemp(pattern.data())) return;
  m_root = pattern;
  std::error_code ec;
  for (const char* dir : {"home", "config/Sorvex", "data", "cache", "state", "runtime"})
    fs::create_directories(m_root / dir, ec);
  chmod((m_root / "runtime").c_str(), 0700);
}

ProgramHome::~ProgramHome() {
  std::error_code ec;
  if (!m_root.empty()) fs::remove_all(m_root, ec);
}

void ProgramHome::WriteSettings(const std::string& ALines) const {
  std::ofstream(ConfigDir() / "Sorvex.ini") << "[Main]\n" << ALines;
}

std::string ProgramHome::ReadSettings() const { return ReadFileText(ConfigDir() / "Sorvex.ini"); }

Environment ProgramHome::ProgramEnvironment() const {
  Environment env = CurrentEnvironment();
  env = WithVariable(env, "HOME", m_root / "home");
  env = WithVariable(env, "XDG_CONFIG_HOME", m_root / "config");
  env = WithVariable(env, "XDG_DATA_HOME", m_root / "data");
  env = WithVariable(env, "XDG_CACHE_HOME", m_root / "cache");
  env = WithVariable(env, "XDG_STATE_HOME", m_root / "state");
  env = WithVariable(env, "XDG_RUNTIME_DIR", m_root / "runtime");
  env = WithVariable(env, "QT_QPA_PLATFORM", "xcb");
  return WithoutVariable(env, "WAYLAND_DISPLAY");
}

}  // namespace testtools
