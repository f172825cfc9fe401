// A home of its own for a run of the real program: HOME and the XDG folders
// in a fresh temporary folder (removed at the end), the program's settings
// file in it, and the environment that points the program there.
#pragma once

#include <filesystem>
#include <string>

#include "ChildProcess.h"

namespace testtools {

// A whole file as bytes; empty when it cannot be read.
std::string ReadFileText(const std::filesystem::path& AFile);

class ProgramHome {
 public:
  ProgramHome();
  ~ProgramHome();
  ProgramHome(const ProgramHome&) = delete;
  ProgramHome& operator=(const ProgramHome&) = delete;

  bool Ok() const { return !m_root.empty(); }
  const std::filesystem::path& Root() const { return m_root; }
  // The per-user folder of the program ($XDG_CONFIG_HOME/Sorvex).
  std::filesystem::path ConfigDir() const { return m_root / "config/Sorvex"; }
  // Writes the settings file there: section [Main] with ALines
  // ("Key=value" lines).
  void WriteSettings(const std::string& ALines) const;
  // The settings file as it stands now (empty when there is none).
  std::string ReadSettings() const;
  // This process's environment with HOME, XDG_CONFIG_HOME, XDG_DATA_HOME,
  // XDG_CACHE_HOME, XDG_STATE_HOME and XDG_RUNTIME_DIR (0700) in the home,
  // and the program on X11.
  Environment ProgramEnvironment() const;

 private:
  std::filesystem::path m_root;
};

}  // namespace testtools
