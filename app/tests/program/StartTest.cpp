// The real program started where it has no X server to show itself on, and
// asked only for its usage or its version, which need none. A start that
// cannot go on says why in one line of its own and ends with status 1; it
// must not abort (Qt's way, with a core and a hint about reinstalling).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tools/ChildProcess.h"
#include "tools/ProgramHome.h"

namespace {

using testtools::ChildProcess;
namespace fs = std::filesystem;

constexpr int kEndMs = 20000;  // the sanitizer build starts slowest

// A display number with no server: no socket of that number exists (the
// tests' servers make one each) and none listens on TCP.
std::string DisplayWithoutServer() {
  for (int n = 900;; ++n) {
    if (!fs::exists("/tmp/.X11-unix/X" + std::to_string(n))) return ":" + std::to_string(n);
  }
}

struct StartCase {
  const char* name;
  std::vector<std::string> args;
  std::optional<std::string> display;  // nothing: DISPLAY is not set
  int exitCode;
  std::string out;  // standard output, whole
  std::vector<std::string> errHas;  // standard error, one line holding each of these
};

void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }

class StartWithoutDisplay : public ::testing::TestWithParam<StartCase> {};

TEST_P(StartWithoutDisplay, SaysWhatItCan) {
  const StartCase& c = GetParam();
  testtools::ProgramHome home;
  ASSERT_TRUE(home.Ok());
  testtools::Environment env = testtools::WithoutVariable(home.ProgramEnvironment(), "DISPLAY");
  // A Wayland session without XWayland has a Wayland display and no X one.
  env = testtools::WithVariable(env, "WAYLAND_DISPLAY", "wayland-0");
  if (c.display) env = testtools::WithVariable(env, "DISPLAY", *c.display);
  const fs::path errFile = home.Root() / "stderr";
  std::vector<std::string> argv = {SORVEX_PROGRAM};
  argv.insert(argv.end(), c.args.begin(), c.args.end());

  ChildProcess sorvex(argv, env, {.captureOut = true, .errFile = errFile.string()});
  ASSERT_TRUE(sorvex.Started());
  const std::string out = sorvex.ReadOut(kEndMs);
  const std::optional<int> code = sorvex.WaitExit(kEndMs);
  ASSERT_TRUE(code) << "still running";
  EXPECT_EQ(*code, c.exitCode) << "(128 and more: ended by a signal)";
  EXPECT_EQ(out, c.out);

  const std::string err = testtools::ReadFileText(errFile);
  if (c.errHas.empty()) {
    EXPECT_EQ(err, "");
  } else {
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    for (const std::string& part : c.errHas) EXPECT_NE(err.find(part), std::string::npos) << err;
  }
}

const std::string kNeedsX = "Sorvex needs an X11 session or XWayland";
const std::string kNoServer = DisplayWithoutServer();

INSTANTIATE_TEST_SUITE_P(
    Program, StartWithoutDisplay,
    ::testing::Values(
        StartCase{"NoDisplayNamed", {}, std::nullopt, 1, "", {"DISPLAY is not set", kNeedsX}},
        StartCase{"EmptyDisplay", {"-autorun"}, "", 1, "", {"DISPLAY is not set", kNeedsX}},
        StartCase{"DisplayWithoutServer", {}, kNoServer, 1, "", {"\"" + kNoServer + "\"", kNeedsX}},
        StartCase{"Version", {"--version"}, std::nullopt, 0, "Sorvex " SORVEX_VERSION "\n", {}},
        StartCase{"VersionAmongSwitches", {"-pttyUSB0", "--version", "office"}, std::nullopt, 0,
                  "Sorvex " SORVEX_VERSION "\n", {}}),
    [](const auto& info) { return std::string(info.param.name); });

// The usage, by either of its names and wherever it stands, lists every
// switch of the program.
TEST(StartUsage, PrintedWithoutDisplay) {
  testtools::ProgramHome home;
  ASSERT_TRUE(home.Ok());
  const testtools::Environment env = testtools::WithoutVariable(home.ProgramEnvironment(), "DISPLAY");
  const fs::path errFile = home.Root() / "stderr";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, {"-h"}, {"-autorun", "-h"}}) {
    std::vector<std::string> argv = {SORVEX_PROGRAM};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess sorvex(argv, env, {.captureOut = true, .errFile = errFile.string()});
    ASSERT_TRUE(sorvex.Started());
    const std::string out = sorvex.ReadOut(kEndMs);
    EXPECT_EQ(sorvex.WaitExit(kEndMs), 0) << args.back();
    EXPECT_EQ(out.rfind("Usage: sorvex ", 0), 0u) << out;
    for (const char* word : {"-autorun", "-pPORT", "-sCLASS", "-uCLASS", "-unregister", "PROFILE",
                             "--help", "-h", "--version", "MUL, M1K, HID, EMM, IC or EX"})
      EXPECT_NE(out.find(word), std::string::npos) << word;
    EXPECT_EQ(testtools::ReadFileText(errFile), "");
  }
}

}  // namespace
