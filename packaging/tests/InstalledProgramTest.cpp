// The installed program, as a user starts it from the menu: the sorvex of an
// install tree (SORVEX_INSTALLED_PREFIX: a staging folder's prefix, or /usr
// for the installed package) on the tests' X server, with a fresh home whose
// settings ask for the language of the shipped Russian file. There is no
// "Languages" beside an installed program, so the Russian texts can only
// come from the install's shared data folder. Its window must carry the
// class that the desktop entry's StartupWMClass names, or desktops cannot
// tie the running program to its menu entry.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "tools/ChildProcess.h"
#include "tools/ProgramHome.h"
#include "x11/XProbe.h"

namespace {

namespace fs = std::filesystem;
using testtools::ChildProcess;
using x11test::XProbe;

constexpr int kStartMs = 30000;

// The value of AKey in section ASection of an INI-style file (the desktop
// entry, a language file); empty when it is not there.
std::string IniValue(const fs::path& AFile, const std::string& ASection, const std::string& AKey) {
  std::ifstream in(AFile);
  std::string line, section;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > 1 && line.front() == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
    } else if (section == ASection && line.compare(0, AKey.size() + 1, AKey + "=") == 0) {
      return line.substr(AKey.size() + 1);
    }
  }
  return {};
}

TEST(InstalledProgram, TakesItsLanguageFromTheSharedFolderAndHasTheWindowClassOfItsDesktopEntry) {
  const char* prefixVar = std::getenv("SORVEX_INSTALLED_PREFIX");
  ASSERT_TRUE(prefixVar && *prefixVar) << "SORVEX_INSTALLED_PREFIX names no install";
  const fs::path prefix = prefixVar;
  const fs::path program = prefix / SORVEX_BINDIR / "sorvex";
  ASSERT_TRUE(fs::exists(program)) << program;
  ASSERT_FALSE(fs::exists(prefix / SORVEX_BINDIR / "Languages")) << "the language files must come from the share folder";
  const fs::path russian = prefix / SORVEX_DATADIR / "sorvex/Languages/Russian.lng";
  const fs::path entry = prefix / SORVEX_DATADIR / "applications" / SORVEX_DESKTOP_FILE;

  const std::string langId = IniValue(russian, "Global", "LangId");
  const std::string settingsTitle = IniValue(russian, "Forms", "TfmSettingsDlg-Caption");
  const std::string windowClass = IniValue(entry, "Desktop Entry", "StartupWMClass");
  ASSERT_FALSE(langId.empty()) << russian;
  ASSERT_FALSE(settingsTitle.empty()) << russian;
  ASSERT_FALSE(windowClass.empty()) << entry;

  XProbe probe;
  ASSERT_TRUE(probe.Ok());
  testtools::ProgramHome home;
  ASSERT_TRUE(home.Ok());
  // The settings keep the language id in decimal.
  home.WriteSettings("lang=" + std::to_string(std::stoi(langId, nullptr, 16)) + "\n");
  ChildProcess sorvex({program.string()}, home.ProgramEnvironment());
  ASSERT_TRUE(sorvex.Started());
  const x11test::XWindow window = probe.WaitWindow(sorvex.Pid(), XProbe::Kind::Main, windowClass, kStartMs);
  ASSERT_NE(window, 0u) << "no window of class " << windowClass;

  // "Settings..." in the window's context menu: the item after "Enable".
  // The menu takes the keyboard as it opens; keys that come before go
  // elsewhere, so the menu is opened again then.
  x11test::XWindow dialog = 0;
  for (int attempt = 0; attempt < 3 && !dialog; ++attempt) {
    const x11test::XRect at = probe.Geometry(window);
    probe.Click(at.x + 3, at.y + at.height / 2, 3);
    if (!probe.WaitFor([&] { return probe.MenuOf(sorvex.Pid()) != 0; })) continue;
    for (const char* key : {"Down", "Down", "Return"}) probe.Key(key);
    probe.WaitFor([&] { return (dialog = probe.ViewableWindowOf(sorvex.Pid(), "DIALOG")) != 0; }, 5000);
    if (!dialog) probe.Key("Escape");
  }
  ASSERT_NE(dialog, 0u) << "the settings dialog did not open";
  EXPECT_EQ(probe.Title(dialog), settingsTitle);

  // Closed as it opened, by a key: the dialog must have the keyboard first.
  bool closed = false;
  for (int attempt = 0; attempt < 3 && !closed; ++attempt) {
    probe.GiveFocus(dialog, 5000);
    probe.Key("Escape");
    closed = probe.WaitFor([&] { return !probe.Viewable(dialog); });
  }
  EXPECT_TRUE(closed) << "the settings dialog did not close";
  // Ended from outside, the way a session ends it.
  sorvex.Signal(SIGTERM);
  EXPECT_EQ(sorvex.WaitExit(kStartMs), std::optional<int>(0));
}

}  // namespace
