// The real program on an X server of its own (one per test), watched and
// driven from outside as a user would: through its windows, a notification
// area of the tests' own (sorvex_trayhost) and XTest clicks and keys. Each
// program gets a fresh home, settings and runtime folder, and settings the
// test writes.
#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Pty.h"
#include "tools/ChildProcess.h"
#include "tools/ProgramHome.h"
#include "tools/TestTray.h"
#include "x11/XProbe.h"

namespace {

using testtools::ChildProcess;
using testtools::DockedIcon;
using testtools::TestTray;
using x11test::XProbe;
using x11test::XRect;
using x11test::XWindow;
namespace fs = std::filesystem;

// Limits for things that normally take a fraction of a second; only a
// failing test waits them out. Starting takes longest under the sanitizers.
constexpr int kStartMs = 20000;
constexpr int kReactMs = 5000;

// The centre colour of the tray image for a closed port.
constexpr unsigned kInactiveColour = 0x9A9A9A;

// The main window is a tool window; the error dialog a dialog.
const std::string kMainType = "UTILITY";
const std::string kDialogType = "DIALOG";

class ProgramOnX : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_probe.Ok()) << "no X server";
    // The program takes a settings file beside itself before the user's.
    ASSERT_FALSE(fs::exists(fs::path(SORVEX_PROGRAM).parent_path() / "Sorvex.ini"));
    std::string pattern = (fs::temp_directory_path() / "sorvex-tray.XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
  }
  void TearDown() override {
    m_programs.clear();  // kills whatever still runs
    if (m_tray) {
      EXPECT_EQ(m_tray->End(), 0) << "the tray did not end cleanly";
    }
    m_tray.reset();
    m_homes.clear();
    std::error_code ec;
    fs::remove_all(m_dir, ec);
  }

  // A home and settings of their own, under a name.
  testtools::ProgramHome& Home(const std::string& AName) {
    testtools::ProgramHome& home = m_homes.try_emplace(AName).first->second;
    EXPECT_TRUE(home.Ok()) << "no home folder";
    return home;
  }
  void WriteSettings(const std::string& ALines, const std::string& AHome = "a") { Home(AHome).WriteSettings(ALines); }

  bool StartTray() {
    m_tray = std::make_unique<TestTray>(SORVEX_TRAYHOST);
    return m_tray->Ready();
  }

  // The program's environment: its settings from the home AHome, and the
  // runtime folder (where instances find each other) shared by all.
  testtools::Environment ProgramEnv(const std::string& AHome = "a") {
    const fs::path runtime = m_dir / "runtime";
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    testtools::Environment env = Home(AHome).ProgramEnvironment();
    env = testtools::WithVariable(env, "XDG_RUNTIME_DIR", runtime);
    // No desktop bus: the tray is the X11 one.
    return testtools::WithVariable(env, "DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (m_dir / "no-bus").string());
  }

  ChildProcess& Start(const std::vector<std::string>& AArgs, const std::string& AHome = "a") {
    return StartWith({}, AArgs, ProgramEnv(AHome));
  }
  // Starts the program with AArgs in AEnv, run by APrefix (a program that
  // sets up the surroundings and then becomes the program), its standard
  // error into AErrFile when one is named.
  ChildProcess& StartWith(const std::vector<std::string>& APrefix, const std::vector<std::string>& AArgs,
                          const testtools::Environment& AEnv, const fs::path& AErrFile = {}) {
    std::vector<std::string> argv = APrefix;
    argv.push_back(SORVEX_PROGRAM);
    argv.insert(argv.end(), AArgs.begin(), AArgs.end());
    m_programs.push_back(std::make_unique<ChildProcess>(argv, AEnv, testtools::ChildStreams{.errFile = AErrFile}));
    EXPECT_TRUE(m_programs.back()->Started());
    return *m_programs.back();
  }

  // A runtime folder of AUser's own, for a program run as that user; the
  // shared folder above it lets the user pass.
  fs::path RuntimeFolderOf(uid_t AUser, const std::string& AName) {
    const fs::path runtime = m_dir / AName;
    fs::create_directories(runtime);
    EXPECT_EQ(chown(runtime.c_str(), AUser, AUser), 0);
    fs::permissions(runtime, fs::perms::owner_all);
    fs::permissions(m_dir, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    return runtime;
  }
  // The program run as AUser (and its group alone), its standard error into
  // the file "errors" of the shared folder.
  ChildProcess& StartAsUser(uid_t AUser, const testtools::Environment& AEnv) {
    const std::string id = std::to_string(AUser);
    return StartWith({"setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups"}, {}, AEnv, m_dir / "errors");
  }

  // Starts a first instance hidden in the tray; its icon, when it came.
  std::optional<DockedIcon> StartHidden(const testtools::Environment& AEnv, const fs::path& AErrFile = {}) {
    ChildProcess& first = StartWith({}, {"-autorun"}, AEnv, AErrFile);
    const auto icon = m_tray->OnlyIcon();
    if (!icon) return icon;
    EXPECT_EQ(m_probe.PidOf(icon->window), first.Pid());
    EXPECT_EQ(m_probe.ViewableWindowOf(first.Pid(), kMainType), 0u);
    return icon;
  }

  // The second start ends at once, well within its wait for an answer, and
  // the first, hidden with AIcon, shows its window and makes its icon anew.
  // The first is then ended through the tray.
  void ExpectTheSecondWakesTheFirst(ChildProcess& AFirst, ChildProcess& ASecond, const DockedIcon& AIcon) {
    const auto code = ASecond.WaitExit(5000);
    ASSERT_TRUE(code.has_value()) << "the second instance still runs";
    EXPECT_EQ(*code, 0);
    EXPECT_NE(WaitMainWindow(AFirst, kReactMs), 0u);
    ASSERT_TRUE(m_tray->WaitFor([&] { return m_tray->Icons().size() == 1 && m_tray->Icons()[0].window != AIcon.window; }))
        << "the icon was not made anew";
    ExitThroughTray(AFirst, m_tray->Icons()[0]);
  }

  // Ends the program as the session's end does and expects it to go the way
  // Exit goes, with exit code 0.
  void EndFromOutside(ChildProcess& AProgram) {
    ASSERT_EQ(kill(AProgram.Pid(), SIGTERM), 0);
    const auto code = AProgram.WaitExit(kStartMs);
    ASSERT_TRUE(code.has_value()) << "the program did not end";
    EXPECT_EQ(*code, 0);
  }

  // The program's main window once it is on the screen; 0 when it does
  // not come.
  XWindow WaitMainWindow(ChildProcess& AProgram, int ATimeoutMs = kStartMs) {
    XWindow w = 0;
    m_probe.WaitFor([&] { return (w = m_probe.ViewableWindowOf(AProgram.Pid(), kMainType)) != 0; }, ATimeoutMs);
    return w;
  }

  // Opens the icon's menu with a right click and picks its last item,
  // "Exit": the program must end by itself, with exit code 0.
  void ExitThroughTray(ChildProcess& AProgram, const DockedIcon& AIcon) {
    m_probe.Click(AIcon.CentreX(), AIcon.CentreY(), 3);
    XWindow menu = 0;
    ASSERT_TRUE(m_probe.WaitFor([&] { return (menu = m_probe.MenuOf(AProgram.Pid())) != 0; },
                                kReactMs))
        << "the tray icon's menu did not open";
    // The menu opens at the icon (above it, as the icon is at the bottom).
    const XRect at = m_probe.Geometry(menu);
    EXPECT_TRUE(at.x <= AIcon.CentreX() && AIcon.CentreX() <= at.x + at.width) << at.x << "+" << at.width;
    EXPECT_TRUE(at.y + at.height <= AIcon.CentreY() + 1 && AIcon.rect.y - at.y - at.height < 50)
        << at.y << "+" << at.height;
    PickLastItem(AProgram, menu);
  }

  // Up from no selection is the last item.
  void PickLastItem(ChildProcess& AProgram, XWindow AMenu) {
    m_probe.Key("Up");
    m_probe.Key("Return");
    const auto code = AProgram.WaitExit(kStartMs);
    ASSERT_TRUE(code.has_value()) << "the program did not end; menu shown: " << m_probe.Viewable(AMenu);
    EXPECT_EQ(*code, 0);
  }

  // Returns once the program has taken in what was done to its windows so
  // far. It takes its X input in order, so once the context menu that a
  // right click on AWindow opens is on the screen, everything before the
  // click has reached its windows. The menu is closed again by one Escape,
  // pressed once the menu holds the keyboard (it takes it from AWindow,
  // which is given it first), so that the key is the menu's.
  void WaitTakenIn(ChildProcess& AProgram, XWindow AWindow) {
    ASSERT_TRUE(m_probe.GiveFocus(AWindow, kReactMs));
    m_probe.WatchKeyboardGrab(AWindow);
    const XRect at = m_probe.Geometry(AWindow);
    m_probe.Click(at.x + 3, at.y + at.height / 2, 3);
    XWindow menu = 0;
    ASSERT_TRUE(m_probe.WaitFor([&] {
      return (menu = m_probe.MenuOf(AProgram.Pid())) != 0 && m_probe.KeyboardGrabbedFrom(AWindow);
    }, kReactMs)) << (menu ? "the context menu does not hold the keyboard" : "no context menu");
    m_probe.Key("Escape");
    ASSERT_TRUE(m_probe.WaitFor([&] { return !m_probe.Viewable(menu); }, kReactMs)) << "the context menu stayed open";
  }

  // Waits for the program's error dialog, closes it as a window manager
  // would, and gives its size; all zero when none came.
  XRect ErrorDialog(ChildProcess& AProgram) {
    XWindow dialog = 0;
    if (!m_probe.WaitFor([&] { return (dialog = m_probe.ViewableWindowOf(AProgram.Pid(), kDialogType)) != 0; },
                         kStartMs))
      return {};
    const XRect size = m_probe.Geometry(dialog);
    m_probe.Close(dialog);
    EXPECT_TRUE(m_probe.WaitFor([&] { return !m_probe.Viewable(dialog); }));
    return size;
  }

  XProbe m_probe;
  fs::path m_dir;  // the shared runtime folder and the missing bus
  std::map<std::string, testtools::ProgramHome> m_homes;
  std::unique_ptr<TestTray> m_tray;
  std::vector<std::unique_ptr<ChildProcess>> m_programs;
};

TEST_F(ProgramOnX, ClosingHidesToTheTrayAndTheIconTogglesTheWindow) {
  ASSERT_TRUE(StartTray());
  WriteSettings("");
  ChildProcess& app = Start({});
  const XWindow main = WaitMainWindow(app);
  ASSERT_NE(main, 0u);
  const auto icon = m_tray->OnlyIcon();
  ASSERT_TRUE(icon);
  // No port is open: the inactive image.
  EXPECT_TRUE(m_probe.WaitFor([&] {
    return m_probe.Pixel(icon->window, icon->rect.width / 2, icon->rect.height / 2) == kInactiveColour;
  })) << std::hex << m_probe.Pixel(icon->window, icon->rect.width / 2, icon->rect.height / 2);

  // The window manager's close: hidden in the tray, still running.
  m_probe.Close(main);
  EXPECT_TRUE(m_probe.WaitFor([&] { return !m_probe.Viewable(main); }));
  EXPECT_TRUE(app.Running());
  EXPECT_EQ(m_tray->Icons().size(), 1u);

  auto click = [&] { m_probe.Click(icon->CentreX(), icon->CentreY(), 1); };
  // Hidden: a click shows it, and with the focus; in plain view: a click
  // hides it. The focus comes last of what showing does.
  auto shown = [&] { return m_probe.Viewable(main) && m_probe.Focus() == main; };
  click();
  EXPECT_TRUE(m_probe.WaitFor(shown));
  click();
  EXPECT_TRUE(m_probe.WaitFor([&] { return !m_probe.Viewable(main); }));
  click();
  ASSERT_TRUE(m_probe.WaitFor(shown));

  // Covered at its top-left corner: a click brings it to the front.
  const XRect r = m_probe.Geometry(main);
  const XWindow corner = m_probe.Cover({r.x - 10, r.y - 10, 40, 40});
  ASSERT_GT(m_probe.StackPos(corner), m_probe.StackPos(main));
  click();
  EXPECT_TRUE(m_probe.WaitFor([&] { return m_probe.StackPos(main) > m_probe.StackPos(corner); }));
  EXPECT_TRUE(m_probe.Viewable(main));
  // Covered anywhere else counts as in plain view: a click hides it.
  const XWindow middle = m_probe.Cover({r.x + r.width / 2, r.y + r.height / 2, 40, 40});
  ASSERT_GT(m_probe.StackPos(middle), m_probe.StackPos(main));
  click();
  EXPECT_TRUE(m_probe.WaitFor([&] { return !m_probe.Viewable(main); }));

  ExitThroughTray(app, *icon);
}

TEST_F(ProgramOnX, AnEndRequestFromOutsideKeepsWhatExitKeeps) {
  // The session ending (SIGTERM), a hang-up or Ctrl+C end the program the
  // way Exit does: the moved window's place is stored.
  for (const int sig : {SIGTERM, SIGINT}) {
    WriteSettings("");
    ChildProcess& app = Start({});
    const XWindow main = WaitMainWindow(app);
    ASSERT_NE(main, 0u);
    m_probe.Move(main, 123, 234);
    ASSERT_TRUE(m_probe.WaitFor([&] { return m_probe.Geometry(main).x == 123; }));
    // The server has moved it; the signal must not overtake the program
    // hearing of the move.
    ASSERT_NO_FATAL_FAILURE(WaitTakenIn(app, main));
    ASSERT_EQ(kill(app.Pid(), sig), 0);
    const auto code = app.WaitExit(kStartMs);
    ASSERT_TRUE(code.has_value()) << "signal " << sig;
    EXPECT_EQ(*code, 0);
    const std::string text = Home("a").ReadSettings();
    EXPECT_NE(text.find("FormPos=[123,234]"), std::string::npos) << text;
    m_programs.clear();
  }
}

TEST_F(ProgramOnX, AutorunStartsInTheTrayAndReportsOnlyABusyPort) {
  ASSERT_TRUE(StartTray());
  WriteSettings("");
  // The port is held by another program.
  TestPty pty;
  ASSERT_TRUE(pty.Ok());
  const int holder = open(pty.Path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  const std::string port = "-p" + pty.Path().substr(5);
  // The profile's message is the widest line of the two, so the dialog
  // that holds it is wider: the dialog's text cannot be read from outside
  // the program, its size can.
  const std::string profile = "a-profile-that-nobody-has-made-for-this-test";

  // Started in view, both errors are reported, in one dialog.
  ChildProcess& shown = Start({profile, port});
  const XRect both = ErrorDialog(shown);
  ASSERT_GT(both.width, 0) << "no error dialog";
  EXPECT_NE(m_probe.ViewableWindowOf(shown.Pid(), kMainType), 0u);
  const auto shownIcon = m_tray->OnlyIcon();
  ASSERT_TRUE(shownIcon);
  ExitThroughTray(shown, *shownIcon);
  ASSERT_TRUE(m_tray->WaitFor([&] { return m_tray->Icons().empty(); }));

  ChildProcess& hidden = Start({"-autorun", profile, port});
  XWindow dialog = 0;
  ASSERT_TRUE(m_probe.WaitFor([&] { return (dialog = m_probe.ViewableWindowOf(hidden.Pid(), kDialogType)) != 0; },
                              kStartMs))
      << "the busy port was not reported";
  // Nothing but the dialog on the screen, and the icon in the tray.
  for (XWindow w : m_probe.WindowsOf(hidden.Pid())) EXPECT_TRUE(w == dialog || !m_probe.Viewable(w)) << w;
  const auto icon = m_tray->OnlyIcon();
  ASSERT_TRUE(icon);
  const XRect portOnly = ErrorDialog(hidden);
  EXPECT_LT(portOnly.width, both.width) << "the missing profile was reported too";
  EXPECT_EQ(m_probe.ViewableWindowOf(hidden.Pid()), 0u);
  ExitThroughTray(hidden, *icon);
  close(holder);
}

TEST_F(ProgramOnX, WithoutATrayTheWindowStaysWithinReach) {
  WriteSettings("");
  // Asked to start in the tray, but there is none: the window shows.
  ChildProcess& app = Start({"-autorun"});
  const XWindow main = WaitMainWindow(app);
  ASSERT_NE(main, 0u);
  // Closing minimises instead of hiding: the window asks the window
  // manager to iconify it, and stays mapped until it does.
  m_probe.StandInForWindowManager(true);
  m_probe.Close(main);
  EXPECT_TRUE(m_probe.WaitFor([&] { return m_probe.IconifyRequested(main); }));
  m_probe.StandInForWindowManager(false);
  EXPECT_TRUE(m_probe.Viewable(main));
  EXPECT_TRUE(app.Running());

  // The window's own menu holds Exit too, as its last item.
  const XRect r = m_probe.Geometry(main);
  m_probe.Click(r.x + 3, r.y + 3, 3);
  XWindow menu = 0;
  ASSERT_TRUE(m_probe.WaitFor([&] { return (menu = m_probe.MenuOf(app.Pid())) != 0; }));
  PickLastItem(app, menu);
}

TEST_F(ProgramOnX, ATrayThatComesLaterIsUsed) {
  WriteSettings("");
  ChildProcess& app = Start({});
  const XWindow main = WaitMainWindow(app);
  ASSERT_NE(main, 0u);
  // The tray announces itself to the running program, which docks its icon
  // there and from then on hides to it.
  ASSERT_TRUE(StartTray());
  const auto icon = m_tray->OnlyIcon(kReactMs);
  ASSERT_TRUE(icon) << "the icon did not come to the new tray";
  m_probe.Close(main);
  EXPECT_TRUE(m_probe.WaitFor([&] { return !m_probe.Viewable(main); }));
  ExitThroughTray(app, *icon);
}

// Two starts in a row, each with its own "OneInstance" setting (and its own
// settings file) but the same runtime folder, where instances find each
// other. The first runs hidden in the tray.
struct InstanceCase {
  const char* name;
  bool firstOn, secondOn;
  bool secondWakesFirst;
};

void PrintTo(const InstanceCase& ACase, std::ostream* AOut) { *AOut << ACase.name; }

class ProgramInstances : public ProgramOnX, public ::testing::WithParamInterface<InstanceCase> {};

TEST_P(ProgramInstances, ASecondStartWakesTheFirstOnlyWhenItAsksForOneInstance) {
  const InstanceCase& c = GetParam();
  ASSERT_TRUE(StartTray());
  WriteSettings(std::string("OneInstance=") + (c.firstOn ? "1" : "0") + "\n", "first");
  WriteSettings(std::string("OneInstance=") + (c.secondOn ? "1" : "0") + "\n", "second");
  const auto icon = StartHidden(ProgramEnv("first"));
  ASSERT_TRUE(icon);
  ChildProcess& first = *m_programs.back();

  ChildProcess& second = Start({}, "second");
  if (c.secondWakesFirst) {
    ExpectTheSecondWakesTheFirst(first, second, *icon);
    return;
  }
  // Side by side: the second shows up with an icon of its own, the first
  // stays as it was.
  EXPECT_NE(WaitMainWindow(second), 0u);
  ASSERT_TRUE(m_tray->WaitFor([&] { return m_tray->Icons().size() == 2; }, kStartMs));
  EXPECT_EQ(m_probe.ViewableWindowOf(first.Pid(), kMainType), 0u);
  EXPECT_TRUE(first.Running());
  EXPECT_TRUE(second.Running());
  const std::vector<DockedIcon> icons = m_tray->Icons();
  for (const DockedIcon& i : icons) {
    ChildProcess& owner = m_probe.PidOf(i.window) == first.Pid() ? first : second;
    ExitThroughTray(owner, i);
  }
  EXPECT_FALSE(first.Running());
  EXPECT_FALSE(second.Running());
}

INSTANTIATE_TEST_SUITE_P(
    Settings, ProgramInstances,
    ::testing::Values(InstanceCase{"BothOn", true, true, true},
                      // Every instance can be found, whatever its own setting.
                      InstanceCase{"OnlyTheSecondOn", false, true, true},
                      InstanceCase{"OnlyTheFirstOn", true, false, false},
                      InstanceCase{"BothOff", false, false, false}),
    [](const ::testing::TestParamInfo<InstanceCase>& AInfo) { return std::string(AInfo.param.name); });

size_t Occurrences(const std::string& AText, const std::string& AWhat) {
  size_t n = 0;
  for (size_t at = AText.find(AWhat); at != std::string::npos; at = AText.find(AWhat, at + 1)) ++n;
  return n;
}

// Two starts with "OneInstance" on, each with its own settings, in a runtime
// folder the usual place of the socket or the lock does not suit.
enum class RuntimeFolder {
  LongPath,        // its path alone is longer than a socket's name may be
  NoLockThere,     // no lock file can be made in it (as after su)
  NoLockAnywhere,  // nor in the per-user folders
};
struct RuntimeCase {
  const char* name;
  RuntimeFolder folder;
};
void PrintTo(const RuntimeCase& ACase, std::ostream* AOut) { *AOut << ACase.name; }

class InstancesInAnOddRuntimeFolder : public ProgramOnX, public ::testing::WithParamInterface<RuntimeCase> {};

TEST_P(InstancesInAnOddRuntimeFolder, ASecondStartStillWakesTheFirst) {
  const RuntimeCase& c = GetParam();
  ASSERT_TRUE(StartTray());
  fs::path runtime = m_dir / std::string(120, 'r');
  if (c.folder != RuntimeFolder::LongPath) {
    // Root may write anywhere: a folder takes the lock file's name.
    runtime = m_dir / "locked";
    fs::create_directories(runtime / "Sorvex.lock");
  }
  fs::create_directories(runtime);
  std::map<std::string, testtools::Environment> env;
  for (const std::string home : {"first", "second"}) {
    WriteSettings("OneInstance=1\n", home);
    if (c.folder == RuntimeFolder::NoLockAnywhere) fs::create_directories(Home(home).ConfigDir() / "Sorvex.lock");
    env[home] = testtools::WithVariable(ProgramEnv(home), "XDG_RUNTIME_DIR", runtime);
  }
  const auto icon = StartHidden(env["first"], m_dir / "first.err");
  ASSERT_TRUE(icon) << "the first instance did not start";
  ChildProcess& first = *m_programs.back();
  ChildProcess& second = StartWith({}, {}, env["second"], m_dir / "second.err");
  ExpectTheSecondWakesTheFirst(first, second, *icon);
  // Only a start without any lock says so, once.
  const size_t notices = c.folder == RuntimeFolder::NoLockAnywhere ? 1 : 0;
  for (const char* err : {"first.err", "second.err"}) {
    const std::string text = testtools::ReadFileText(m_dir / err);
    EXPECT_EQ(Occurrences(text, "single-instance lock"), notices) << err << ":\n" << text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Folders, InstancesInAnOddRuntimeFolder,
    ::testing::Values(RuntimeCase{"LongPath", RuntimeFolder::LongPath},
                      RuntimeCase{"NoLockThere", RuntimeFolder::NoLockThere},
                      RuntimeCase{"NoLockAnywhere", RuntimeFolder::NoLockAnywhere}),
    [](const ::testing::TestParamInfo<RuntimeCase>& AInfo) { return std::string(AInfo.param.name); });

TEST_F(ProgramOnX, AWriteCutByTheFileSizeLimitFailsAndTheProgramGoesOn) {
  WriteSettings("Port=\n");
  const fs::path folder = Home("a").ConfigDir();
  const std::string before = testtools::ReadFileText(folder / "Sorvex.ini");
  // No file may grow at all: the settings written at start and at the end
  // cannot be, as on a full disk.
  ChildProcess& app = StartWith({"prlimit", "--fsize=0"}, {}, ProgramEnv());
  ASSERT_NE(WaitMainWindow(app), 0u) << "the program did not come up; running: " << app.Running();
  EndFromOutside(app);
  EXPECT_EQ(testtools::ReadFileText(folder / "Sorvex.ini"), before);
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"Sorvex.ini"}) << "a temporary file was left behind";
}

TEST_F(ProgramOnX, SettingsInAFolderTheUserMayNotWriteInAreReadAndToldOnceAsNotSaved) {
  // A user of its own, for whom the folder is read-only (root may write
  // anywhere).
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the program as another user";
  const uid_t user = 54321;
  WriteSettings("TransMethod=1\nTopMost=1\n");
  testtools::ProgramHome& home = Home("a");
  const fs::path settings = home.ConfigDir() / "Sorvex.ini";
  const std::string before = testtools::ReadFileText(settings);
  const auto readOnly = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec;
  for (const fs::path& folder : {home.Root(), home.Root() / "config", home.ConfigDir()})
    fs::permissions(folder, readOnly);
  const fs::path runtime = RuntimeFolderOf(user, "runtime-of-the-user");
  const testtools::Environment env = testtools::WithVariable(ProgramEnv(), "XDG_RUNTIME_DIR", runtime);
  ChildProcess& app = StartAsUser(user, env);
  ASSERT_NE(WaitMainWindow(app), 0u) << "the program did not come up:\n" << testtools::ReadFileText(m_dir / "errors");
  // The start writes the settings back twice (after the window is made, and
  // after its deferred start-up): told once, and in no other words.
  EndFromOutside(app);
  const std::string errors = testtools::ReadFileText(m_dir / "errors");
  EXPECT_EQ(Occurrences(errors, "Sorvex: Could not save the settings: " + settings.string() + ": "), 1u) << errors;
  EXPECT_EQ(Occurrences(errors, "settings"), 1u) << errors;
  EXPECT_EQ(testtools::ReadFileText(settings), before);
}

TEST_F(ProgramOnX, WithoutAHomeFolderItRunsOnItsBuiltInSettingsAndWritesNothing) {
  // A user the system does not know and no $HOME: there is no per-user
  // folder. Only root can run the program as such a user.
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the program as a user the system does not know";
  const uid_t user = 54321;
  ASSERT_EQ(getpwuid(user), nullptr) << "user " << user << " exists here";
  const fs::path runtime = RuntimeFolderOf(user, "runtime-of-nobody-known");
  testtools::Environment env = testtools::CurrentEnvironment();
  for (const char* var : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "WAYLAND_DISPLAY"})
    env = testtools::WithoutVariable(env, var);
  env = testtools::WithVariable(env, "XDG_RUNTIME_DIR", runtime);
  env = testtools::WithVariable(env, "QT_QPA_PLATFORM", "xcb");
  env = testtools::WithVariable(env, "DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (m_dir / "no-bus").string());
  ChildProcess& app = StartAsUser(user, env);
  ASSERT_NE(WaitMainWindow(app), 0u) << "the program did not come up:\n" << testtools::ReadFileText(m_dir / "errors");
  // Ending stores the window's place, like the start stores the settings:
  // neither may go anywhere.
  EndFromOutside(app);
  const std::string errors = testtools::ReadFileText(m_dir / "errors");
  EXPECT_EQ(Occurrences(errors, "no per-user folder"), 1u) << errors;
  EXPECT_EQ(errors.find("cannot be written"), std::string::npos) << errors;
  // That user can write only in its runtime folder and in the folders
  // open to all: nothing of its own may be there.
  for (const char* folder : {"/", "/tmp", "/var/tmp", "/dev/shm"}) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
      struct stat st {};
      if (lstat(entry.path().c_str(), &st) == 0 && st.st_uid == user) ADD_FAILURE() << "written: " << entry.path();
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
