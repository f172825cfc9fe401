// The COM port on real pseudo-terminals.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "../common/Pty.h"
#include "YvLib.h"
#include "YvPort.h"
#include "YvSeams.h"
#include "YvVComPort.h"
#include "sys/UucpLock.h"
#include "ylvane.h"

namespace {

class ComPort : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.Ok());
    ASSERT_EQ(YV_Initialize(0), S_OK);
  }
  void TearDown() override {
    if (port_) YV_CloseHandle(port_);
    YV_Finalyze();
  }
  HRESULT Open(const char16_t* name, char evChar = 10, uint32_t baud = 9600, uint8_t stop = 2) {
    return YV_Open(&port_, name, YV_PORT_COM, baud, evChar, stop);
  }
  int Arm() {
    int ev = -1;
    EXPECT_EQ(YV_StartWaitEvent(port_, &ev), S_OK);
    return ev;
  }
  std::string ReadAll() {
    char buf[256];
    int32_t n = -1;
    EXPECT_EQ(YV_Read(port_, buf, sizeof buf, &n), S_OK);
    return std::string(buf, n > 0 ? n : 0);
  }
  // Waits for the port to hold count bytes (the reader drains the tty).
  bool WaitInCount(int32_t count, int timeoutMs = 2000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      int32_t n = -1;
      if (YV_GetInCount(port_, &n) != S_OK) return false;
      if (n >= count) return n == count;
      if (std::chrono::steady_clock::now() >= end) return false;
      Signalled(Arm(), 20);
    }
  }

  TestPty pty_;
  YV_HANDLE port_ = nullptr;
};

TEST_F(ComPort, OpenFailuresLeaveNoHandle) {
  struct Case {
    const char16_t* name;
    HRESULT expected;
  } cases[] = {
      {u"pts/999999", YV_E_PORT_NOT_EXISTS},
      {u"null", YV_E_PORT_NOT_EXISTS},  // a device, but no terminal
      // Terminals that are no serial line: opening them would reconfigure
      // the user's own terminal or make a new pty.
      {u"tty", YV_E_PORT_NOT_EXISTS},
      {u"console", YV_E_PORT_NOT_EXISTS},
      {u"tty0", YV_E_PORT_NOT_EXISTS},
      {u"ptmx", YV_E_PORT_NOT_EXISTS},
      {u"pts/ptmx", YV_E_PORT_NOT_EXISTS},
      {u"pts", YV_E_PORT_NOT_EXISTS},   // a directory
      {u"../etc/passwd", YV_E_PORT_NOT_EXISTS},
      {u"", YV_E_PORT_NOT_EXISTS},
      {u"tty012345678901234567890123456", YV_E_PORT_NOT_EXISTS},  // 30 characters
      // Longer names are refused as such, whether a device has them or not.
      {u"tty0123456789012345678901234567", E_INVALIDARG},  // 31 characters
      {u"serial/by-id/usb-Yv_Reader_A10K-if00-port0", E_INVALIDARG},  // 42, as links by id are
  };
  for (const auto& c : cases) {
    YV_HANDLE h = reinterpret_cast<YV_HANDLE>(1);
    EXPECT_EQ(YV_Open(&h, c.name, YV_PORT_COM, 9600, 10, 2), c.expected);
    EXPECT_EQ(h, nullptr);
  }
}

TEST_F(ComPort, BadLineSettingsAreSetupErrors) {
  YV_HANDLE h = reinterpret_cast<YV_HANDLE>(1);
  EXPECT_EQ(YV_Open(&h, pty_.Name(), YV_PORT_COM, 0, 10, 2), YV_E_PORT_SETUP);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(YV_Open(&h, pty_.Name(), YV_PORT_COM, 9600, 10, 1), YV_E_PORT_SETUP);
  EXPECT_EQ(h, nullptr);
  // Nothing was left holding the device.
  ASSERT_EQ(Open(pty_.Name()), S_OK);
}

TEST_F(ComPort, SecondOpenOfAHeldPortIsBusy) {
  ASSERT_EQ(Open(pty_.Name()), S_OK);
  YV_HANDLE second = reinterpret_cast<YV_HANDLE>(1);
  EXPECT_EQ(YV_Open(&second, pty_.Name(), YV_PORT_COM, 9600, 10, 2), YV_E_PORT_BUSY);
  EXPECT_EQ(second, nullptr);
  YV_CloseHandle(port_);
  port_ = nullptr;
  EXPECT_EQ(Open(pty_.Name()), S_OK);  // free again once closed
}

// Runs in a child process: a host whose controlling terminal is one pty and
// whose standard input and output are another. Neither may be opened as a
// port, by its own name or by a name below /dev that leads to it, and both
// keep their line settings; a third pty opens as any port does. Prints the
// names that answered otherwise.
int OpenTheHostsOwnTerminals() {
  TestPty controlling, streams, other;
  if (!controlling.Ok() || !streams.Ok() || !other.Ok()) return 2;
  // The terminal hangs up when its master closes at the end.
  signal(SIGHUP, SIG_IGN);
  if (setsid() < 0) return 3;
  const int ctty = open(controlling.Path().c_str(), O_RDWR | O_CLOEXEC);
  const int std = open(streams.Path().c_str(), O_RDWR | O_NOCTTY);
  if (ctty < 0 || std < 0 || ioctl(ctty, TIOCSCTTY, 0) != 0) return 4;
  if (dup2(std, 0) != 0 || dup2(std, 1) != 1) return 5;
  termios before[2]{};
  tcgetattr(controlling.Master(), &before[0]);
  tcgetattr(streams.Master(), &before[1]);
  if (YV_Initialize(0) != S_OK) return 6;
  struct Case {
    const char16_t* name;
    HRESULT expected;
  } cases[] = {
      {controlling.Name(), YV_E_PORT_NOT_EXISTS},
      {u"tty", YV_E_PORT_NOT_EXISTS},
      {streams.Name(), YV_E_PORT_NOT_EXISTS},
      {u"stdin", YV_E_PORT_NOT_EXISTS},
      {u"fd/0", YV_E_PORT_NOT_EXISTS},
      {u"stdout", YV_E_PORT_NOT_EXISTS},
      {u"fd/1", YV_E_PORT_NOT_EXISTS},
      {other.Name(), S_OK},
  };
  int wrong = 0;
  for (const Case& c : cases) {
    YV_HANDLE h = nullptr;
    const HRESULT hr = YV_Open(&h, c.name, YV_PORT_COM, 9600, 10, 2);
    if (h) YV_CloseHandle(h);
    if (hr != c.expected) {
      const std::u16string name(c.name);
      std::fprintf(stderr, "%s: 0x%08X\n", std::string(name.begin(), name.end()).c_str(),
                   static_cast<unsigned>(hr));
      ++wrong;
    }
  }
  YV_Finalyze();
  termios after[2]{};
  tcgetattr(controlling.Master(), &after[0]);
  tcgetattr(streams.Master(), &after[1]);
  for (int i = 0; i < 2; ++i) {
    if (after[i].c_lflag != before[i].c_lflag ||
        cfgetospeed(&after[i]) != cfgetospeed(&before[i])) {
      std::fprintf(stderr, "terminal %d was reconfigured\n", i);
      ++wrong;
    }
  }
  return wrong == 0 ? 0 : 1;
}

TEST(ComPortDeathTest, TheHostsOwnTerminalsAreNoPorts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(_exit(OpenTheHostsOwnTerminals()), ::testing::ExitedWithCode(0), "");
}

// Lock writers tell their two forms apart by the size: exactly 4 bytes
// are a binary pid, whatever its bytes look like; anything else is ASCII
// digits with blanks and a newline. Content of neither form names nobody.
TEST(UucpLockContent, TheSizeTellsABinaryPidFromAnAsciiOne) {
  using std::string_literals::operator""s;
  struct Case {
    const char* what;
    std::string content;
    pid_t owner;
  } cases[] = {
      {"ASCII, padded", "      1234\n", 1234},
      {"ASCII, unpadded", "1234\n", 1234},
      {"ASCII, without a newline", "     12345", 12345},
      {"ASCII, blanks after the digits", "  1234  \n", 1234},
      {"binary", "\x01\x00\x00\x00"s, 1},
      {"binary whose first bytes are digits", "\x38\x39\x00\x00"s, 14648},
      {"binary whose first byte is a blank", "\x20\x31\x00\x00"s, 0x3120},
      {"four ASCII bytes are binary", "123\n", 0x0A333231},
      {"binary, negative", "\xFF\xFF\xFF\xFF", 0},
      {"binary, zero", "\x00\x00\x00\x00"s, 0},
      {"ASCII, zero", "         0\n", 0},
      {"ASCII, beyond any pid", "99999999999\n", 0},
      {"ASCII, something after the number", "  1234x\n", 0},
      {"ASCII, two numbers", "  12 34\n", 0},
      {"ASCII, a second line", "1234\n\n", 0},
      {"blanks only", "          \n", 0},
      {"a word", "reader\n", 0},
      {"empty", "", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ylvane::sys::LockFileOwner(c.content), c.owner) << c.what;
}

// A lock file's usual content.
std::string AsciiPid(pid_t pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
  return text;
}

// The id of a process that has ended.
pid_t GonePid() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return child;
}

// A port that another program has marked as its own with a UUCP lock file
// is busy, as the listing shows it, unless the program is gone or is this
// one; the lock may name the port by the name given, by the device the name
// leads to, or by any other name of that device. Where the tests need
// names of their own in /dev (links, nodes), they need root.
class UucpLocks : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.Ok());
    char tmpl[] = "/tmp/ylvane-lock.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    lockDir_ = tmpl;
    ylvane::SetLockDir(lockDir_);
    ASSERT_EQ(YV_Initialize(0), S_OK);
  }
  void TearDown() override {
    YV_Finalyze();
    ylvane::SetLockDir("/var/lock");
    for (const std::string& n : nodes_) unlink(("/dev/" + n).c_str());
    std::error_code ec;
    if (!lockDir_.empty()) std::filesystem::remove_all(lockDir_, ec);
  }

  static std::string Unique(const std::string& what) {
    return "ttyYv" + what + std::to_string(getpid());
  }
  // A link in /dev to the pty; an empty name when it cannot be made.
  std::string Link(const std::string& name, const std::string& target) {
    unlink(("/dev/" + name).c_str());
    if (symlink(target.c_str(), ("/dev/" + name).c_str()) != 0) return "";
    nodes_.push_back(name);
    return name;
  }
  static bool CanMakeNames() { return access("/dev", W_OK) == 0; }
  void Lock(const std::string& tty, const std::string& content) {
    std::ofstream(lockDir_ + "/LCK.." + tty, std::ios::binary) << content;
  }
  void RemoveLocks() {
    for (const auto& e : std::filesystem::directory_iterator(lockDir_))
      std::filesystem::remove(e.path());
  }

  // Whether this machine lets a process make mounts of its own.
  static bool MountsOfItsOwn() {
    const pid_t probe = fork();
    if (probe == 0)
      _exit(unshare(CLONE_NEWNS) == 0 &&
                    mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
                ? 0
                : 77);
    int status = 0;
    return waitpid(probe, &status, 0) == probe && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  static HRESULT OpenName(const std::string& name) {
    const std::u16string n(name.begin(), name.end());
    YV_HANDLE h = nullptr;
    const HRESULT hr = YV_Open(&h, n.c_str(), YV_PORT_COM, 9600, 10, 2);
    if (h) YV_CloseHandle(h);
    return hr;
  }

  TestPty pty_;
  std::string lockDir_;
  std::vector<std::string> nodes_;
};

TEST_F(UucpLocks, ALiveLockOfAnotherProgramMakesThePortBusy) {
  if (!CanMakeNames()) GTEST_SKIP() << "needs links in /dev (run as root)";
  auto binaryPid = [](int32_t pid) { return std::string(reinterpret_cast<char*>(&pid), 4); };
  struct Case {
    const char* what;
    std::string content;  // empty: no lock file
    HRESULT expected;
  } cases[] = {
      {"no lock", "", S_OK},
      {"live, ASCII", AsciiPid(1), YV_E_PORT_BUSY},
      {"live, binary", binaryPid(1), YV_E_PORT_BUSY},
      {"stale", AsciiPid(GonePid()), S_OK},
      {"this program's own", AsciiPid(getpid()), S_OK},
  };
  const std::string name = Link(Unique("Lock"), pty_.Path());
  ASSERT_FALSE(name.empty());
  for (const Case& c : cases) {
    std::filesystem::remove(lockDir_ + "/LCK.." + name);
    if (!c.content.empty()) Lock(name, c.content);
    EXPECT_EQ(OpenName(name), c.expected) << c.what;
  }
}

// Runs in a child process with mounts of its own: the pty is mounted over
// a file directly below /dev, as a serial device sits there, and reached
// through a link to it; the lock names the device. 77: mounts cannot be
// made here.
int OpenThroughALinkToALockedDevice(const std::string& ptyPath, const std::string& lockDir) {
  if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return 77;
  const std::string node = "ttyYvNode" + std::to_string(getpid());
  const std::string alias = "ttyYvAlias" + std::to_string(getpid());
  const std::string nodePath = "/dev/" + node, aliasPath = "/dev/" + alias;
  const int fd = open(nodePath.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) return 77;
  close(fd);
  int result = 2;
  if (mount(ptyPath.c_str(), nodePath.c_str(), nullptr, MS_BIND, nullptr) == 0) {
    if (symlink(nodePath.c_str(), aliasPath.c_str()) == 0) {
      auto open = [](const std::string& name) {
        const std::u16string n(name.begin(), name.end());
        YV_HANDLE h = nullptr;
        const HRESULT hr = YV_Open(&h, n.c_str(), YV_PORT_COM, 9600, 10, 2);
        if (h) YV_CloseHandle(h);
        return hr;
      };
      const HRESULT unlocked = open(alias);
      std::ofstream(lockDir + "/LCK.." + node) << "         1\n";
      const HRESULT locked = open(alias);
      result = unlocked == S_OK && locked == YV_E_PORT_BUSY ? 0 : 1;
      if (result) std::fprintf(stderr, "unlocked 0x%08X, locked 0x%08X\n", unlocked, locked);
      unlink(aliasPath.c_str());
    }
    umount(nodePath.c_str());
  }
  unlink(nodePath.c_str());
  return result;
}

TEST_F(UucpLocks, ALockOnTheDeviceANameLeadsToCounts) {
  if (!CanMakeNames()) GTEST_SKIP() << "needs nodes in /dev (run as root)";
  if (!MountsOfItsOwn()) GTEST_SKIP() << "no mounts of its own here";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        const int result = OpenThroughALinkToALockedDevice(pty_.Path(), lockDir_);
        TearDown();  // the child's own fixture: its TearDown would not run
        _exit(result);
      },
      ::testing::ExitedWithCode(0), "");
}

// The names serial terminal programs give a pty in their locks: its number
// ("LCK..3" for /dev/pts/3) or its path below /dev with '_' for '/'
// ("LCK..pts_3"). Another pty's lock is no lock on this one.
TEST_F(UucpLocks, APtyLockedUnderTheNamesTerminalProgramsWriteIsBusy) {
  TestPty other;
  ASSERT_TRUE(other.Ok());
  const std::string number = pty_.Path().substr(9), otherNumber = other.Path().substr(9);
  struct Case {
    std::string lock;
    std::string content;
    HRESULT expected;
  } cases[] = {
      {number, AsciiPid(1), YV_E_PORT_BUSY},
      {"pts_" + number, AsciiPid(1), YV_E_PORT_BUSY},
      {number, AsciiPid(GonePid()), S_OK},
      {"pts_" + number, AsciiPid(GonePid()), S_OK},
      {"pts_" + number, AsciiPid(getpid()), S_OK},
      {otherNumber, AsciiPid(1), S_OK},
      {"pts_" + otherNumber, AsciiPid(1), S_OK},
  };
  for (const Case& c : cases) {
    RemoveLocks();
    Lock(c.lock, c.content);
    EXPECT_EQ(OpenName("pts/" + number), c.expected) << "LCK.." << c.lock << ": " << c.content;
  }
}

// Runs in a child process with mounts of its own. The pty gets more names:
// a second node directly below /dev that is no link (the pty mounted over a
// file), and links in folders of their own with '_' in their names, as the
// links to serial devices by id are; the other pty gets such a link too.
// Whatever name a lock gives the device, opening it by any other is busy;
// a lock on the other pty is none, also when its name is the last part of
// a name of this one. Prints the cases that answered otherwise; 77: mounts
// cannot be made.
int OpenALockedDeviceByItsOtherNames(const TestPty& pty, const TestPty& other,
                                     const std::string& lockDir) {
  if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return 77;
  const std::string id = std::to_string(getpid());
  const std::string number = pty.Path().substr(9);
  const std::string twin = "ttyYvTwin" + id, folder = "yv" + id, byId = folder + "/by-id/";
  const std::string link = byId + "Yv_R1_" + id, otherLink = byId + "Yv_R2_" + id;
  // Its last part is the name of the other pty's own link directly below /dev.
  const std::string clash = byId + "Yv_R3_" + id, clashNode = clash.substr(byId.size());
  const std::pair<std::string, std::string> links[] = {
      {link, pty.Path()}, {otherLink, other.Path()}, {clash, pty.Path()}, {clashNode, other.Path()}};
  const int fd = open(("/dev/" + twin).c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) return 77;
  close(fd);
  bool made = mount(pty.Path().c_str(), ("/dev/" + twin).c_str(), nullptr, MS_BIND, nullptr) == 0 &&
              mkdir(("/dev/" + folder).c_str(), 0755) == 0 &&
              mkdir(("/dev/" + byId).c_str(), 0755) == 0;
  for (const auto& [name, target] : links)
    made = made && symlink(target.c_str(), ("/dev/" + name).c_str()) == 0;
  auto underscored = [](std::string name) {
    std::replace(name.begin(), name.end(), '/', '_');
    return name;
  };
  struct Case {
    std::string lock;
    bool live;
    std::string open;
    HRESULT expected;
  } cases[] = {
      {"pts_" + number, true, twin, YV_E_PORT_BUSY},
      {number, true, twin, YV_E_PORT_BUSY},
      {twin, true, "pts/" + number, YV_E_PORT_BUSY},
      {twin, true, link, YV_E_PORT_BUSY},
      {underscored(link), true, "pts/" + number, YV_E_PORT_BUSY},
      {underscored(link), true, twin, YV_E_PORT_BUSY},
      {link.substr(byId.size()), true, link, YV_E_PORT_BUSY},
      {twin, false, "pts/" + number, S_OK},
      {underscored(otherLink), true, "pts/" + number, S_OK},
      {underscored(otherLink), true, twin, S_OK},
      {clashNode, true, clash, S_OK},
  };
  int wrong = made ? 0 : 100;
  for (const Case& c : cases) {
    if (!made) break;
    for (const auto& e : std::filesystem::directory_iterator(lockDir))
      std::filesystem::remove(e.path());
    std::ofstream(lockDir + "/LCK.." + c.lock) << AsciiPid(c.live ? 1 : GonePid());
    const std::u16string name(c.open.begin(), c.open.end());
    YV_HANDLE h = nullptr;
    const HRESULT hr = YV_Open(&h, name.c_str(), YV_PORT_COM, 9600, 10, 2);
    if (h) YV_CloseHandle(h);
    if (hr != c.expected) {
      std::fprintf(stderr, "LCK..%s (%s), opening %s: 0x%08X\n", c.lock.c_str(),
                   c.live ? "live" : "stale", c.open.c_str(), static_cast<unsigned>(hr));
      ++wrong;
    }
  }
  for (const auto& [name, target] : links) unlink(("/dev/" + name).c_str());
  rmdir(("/dev/" + byId).c_str());
  rmdir(("/dev/" + folder).c_str());
  umount(("/dev/" + twin).c_str());
  unlink(("/dev/" + twin).c_str());
  return wrong == 0 ? 0 : 1;
}

TEST_F(UucpLocks, ALockOnAnyNameOfTheDeviceCounts) {
  if (!CanMakeNames()) GTEST_SKIP() << "needs nodes in /dev (run as root)";
  if (!MountsOfItsOwn()) GTEST_SKIP() << "no mounts of its own here";
  TestPty other;
  ASSERT_TRUE(other.Ok());
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        const int result = OpenALockedDeviceByItsOtherNames(pty_, other, lockDir_);
        TearDown();  // the child's own fixture: its TearDown would not run
        _exit(result);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(ComPortDeathTest, PermissionDeniedIsAnOpenErrorNotBusy) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TestPty pty;
  ASSERT_TRUE(pty.Ok());
  ASSERT_EQ(chmod(pty.Path().c_str(), 0), 0);
  EXPECT_EXIT(
      {
        if (geteuid() == 0 && setuid(65534) != 0) _exit(2);
        YV_Initialize(0);
        YV_HANDLE h = nullptr;
        HRESULT hr = YV_Open(&h, pty.Name(), YV_PORT_COM, 9600, 10, 2);
        _exit(hr == YV_E_PORT_OPEN && h == nullptr ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(ComPortDeathTest, ReceiveEventIsNeverADescriptorMeaningNone) {
  // A host started with its standard streams closed: the event must still
  // be a descriptor above 0, which hosts take for "no event".
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TestPty pty;
  ASSERT_TRUE(pty.Ok());
  EXPECT_EXIT(
      {
        close(0);
        YV_Initialize(0);
        YV_HANDLE h = nullptr;
        int ev = -1;
        if (YV_Open(&h, pty.Name(), YV_PORT_COM, 9600, 10, 2) != S_OK) _exit(2);
        if (YV_StartWaitEvent(h, &ev) != S_OK) _exit(3);
        _exit(ev > 2 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(ComPort, EventCharacterSignalsOnlyAtTheEndOfALine) {
  ASSERT_EQ(Open(pty_.Name(), 10), S_OK);
  int ev = Arm();
  ASSERT_GT(ev, 0);
  ASSERT_TRUE(pty_.Send("abc"));
  EXPECT_FALSE(Signalled(ev, 100));
  ASSERT_TRUE(pty_.Send("\n"));
  EXPECT_TRUE(Signalled(ev, 2000));
  int32_t n = -1;
  EXPECT_EQ(YV_GetInCount(port_, &n), S_OK);
  EXPECT_EQ(n, 4);
  EXPECT_EQ(ReadAll(), "abc\n");
  // Re-armed with nothing buffered: clear again, and the same descriptor.
  EXPECT_EQ(Arm(), ev);
  EXPECT_FALSE(Signalled(ev, 50));
}

TEST_F(ComPort, WithoutEventCharacterTheFirstByteSignals) {
  ASSERT_EQ(Open(pty_.Name(), 0), S_OK);
  int ev = Arm();
  EXPECT_FALSE(Signalled(ev, 50));
  ASSERT_TRUE(pty_.Send("x"));
  EXPECT_TRUE(Signalled(ev, 2000));
  EXPECT_EQ(ReadAll(), "x");
}

TEST_F(ComPort, ReadWithNothingReceivedAnswersAtOnce) {
  ASSERT_EQ(Open(pty_.Name()), S_OK);
  char buf[8];
  int32_t n = -1;
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(YV_Read(port_, buf, sizeof buf, &n), S_OK);
  EXPECT_EQ(n, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500));
}

TEST_F(ComPort, LineSplitOverTwoWritesArrivesWhole) {
  ASSERT_EQ(Open(pty_.Name()), S_OK);
  int ev = Arm();
  ASSERT_TRUE(pty_.Send("Mifare[01 02"));
  EXPECT_FALSE(Signalled(ev, 100));
  ASSERT_TRUE(pty_.Send(" 03]\r\n"));
  ASSERT_TRUE(Signalled(ev, 2000));
  EXPECT_EQ(ReadAll(), "Mifare[01 02 03]\r\n");
}

TEST_F(ComPort, EventCharacterAlreadyBufferedSignalsOnReArm) {
  ASSERT_EQ(Open(pty_.Name()), S_OK);
  ASSERT_TRUE(pty_.Send("one\ntwo\n"));
  ASSERT_TRUE(WaitInCount(8));
  char buf[4];
  int32_t n = 0;
  ASSERT_EQ(YV_Read(port_, buf, 4, &n), S_OK);  // "one\n" only
  EXPECT_EQ(std::string(buf, n), "one\n");
  // "two\n" arrived before this arm: it must not be lost.
  EXPECT_TRUE(Signalled(Arm(), 0));
  EXPECT_EQ(ReadAll(), "two\n");
}

TEST_F(ComPort, WriteReachesTheDevice) {
  ASSERT_EQ(Open(pty_.Name()), S_OK);
  EXPECT_EQ(YV_Write(port_, "ping\r", 5), S_OK);
  EXPECT_EQ(pty_.Receive(5), "ping\r");
  EXPECT_EQ(YV_Write(port_, "x", 0), E_INVALIDARG);
  EXPECT_EQ(YV_Write(port_, "x", -3), E_INVALIDARG);
  EXPECT_EQ(YV_Write(port_, nullptr, 1), E_INVALIDARG);
  EXPECT_EQ(pty_.Receive(1, 100), "");  // the refused writes sent nothing
}

TEST_F(ComPort, ReadChecksItsArguments) {
  ASSERT_EQ(Open(pty_.Name()), S_OK);
  char buf[4];
  int32_t n = 77;
  EXPECT_EQ(YV_Read(port_, buf, 4, nullptr), E_INVALIDARG);
  EXPECT_EQ(YV_Read(port_, nullptr, 4, &n), E_INVALIDARG);
  EXPECT_EQ(YV_Read(port_, buf, 0, &n), E_INVALIDARG);
  EXPECT_EQ(n, 77);
  EXPECT_EQ(YV_GetInCount(port_, nullptr), E_INVALIDARG);
  EXPECT_EQ(YV_StartWaitEvent(port_, nullptr), E_INVALIDARG);
}

TEST_F(ComPort, BaudRateAndEventCharacter) {
  ASSERT_EQ(Open(pty_.Name(), 10, 9600), S_OK);
  uint32_t baud = 0;
  char ev = 0;
  EXPECT_EQ(YV_GetBaudAndEvChar(port_, &baud, &ev), S_OK);
  EXPECT_EQ(baud, 9600u);
  EXPECT_EQ(ev, 10);
  EXPECT_EQ(YV_GetBaudAndEvChar(port_, nullptr, nullptr), S_OK);

  // Another program changes the speed of the line.
  termios t{};
  ASSERT_EQ(tcgetattr(pty_.Master(), &t), 0);
  cfsetispeed(&t, B19200);
  cfsetospeed(&t, B19200);
  ASSERT_EQ(tcsetattr(pty_.Master(), TCSANOW, &t), 0);
  EXPECT_EQ(YV_GetBaudAndEvChar(port_, &baud, nullptr), S_OK);
  EXPECT_EQ(baud, 19200u);

  // Any rate, not only the standard ones.
  EXPECT_EQ(YV_SetBaudAndEvChar(port_, 250000, 13), S_OK);
  EXPECT_EQ(YV_GetBaudAndEvChar(port_, &baud, &ev), S_OK);
  EXPECT_EQ(baud, 250000u);
  EXPECT_EQ(ev, 13);
  EXPECT_EQ(YV_SetBaudAndEvChar(port_, 0, 10), YV_E_PORT_SETUP);
  EXPECT_EQ(YV_GetBaudAndEvChar(port_, &baud, &ev), S_OK);
  EXPECT_EQ(baud, 250000u);  // the refused change changed nothing
  EXPECT_EQ(ev, 13);
}

TEST_F(ComPort, SetBaudAndEvCharEndsAPendingWait) {
  ASSERT_EQ(Open(pty_.Name()), S_OK);
  int ev = Arm();
  auto waiter = std::async(std::launch::async, [ev] { return Signalled(ev, 5000); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(YV_SetBaudAndEvChar(port_, 4800, 13), S_OK);
  EXPECT_TRUE(waiter.get());
  // The new event character is in force after the re-arm.
  ev = Arm();
  ASSERT_TRUE(pty_.Send("ab\n"));
  EXPECT_FALSE(Signalled(ev, 100));
  ASSERT_TRUE(pty_.Send("\r"));
  EXPECT_TRUE(Signalled(ev, 2000));
}

TEST_F(ComPort, ClearDiscardsWhatWasReceived) {
  ASSERT_EQ(Open(pty_.Name()), S_OK);
  ASSERT_TRUE(pty_.Send("stale\n"));
  ASSERT_TRUE(WaitInCount(6));
  EXPECT_EQ(YV_Clear(port_, 1, 1), S_OK);
  int32_t n = -1;
  EXPECT_EQ(YV_GetInCount(port_, &n), S_OK);
  EXPECT_EQ(n, 0);
  EXPECT_FALSE(Signalled(Arm(), 0));
}

TEST_F(ComPort, ControlLinesOfAPtyAreRefusedAsCommunicationErrors) {
  ASSERT_EQ(Open(pty_.Name()), S_OK);  // the open tolerates their absence
  EXPECT_EQ(YV_SetDtr(port_, 1), YV_E_COMM);
  EXPECT_EQ(YV_SetRts(port_, 0), YV_E_COMM);
}

TEST_F(ComPort, FtdiDriverVersionIsNotAComPortInterface) {
  ASSERT_EQ(Open(pty_.Name()), S_OK);
  uint32_t v = 0;
  EXPECT_EQ(YV_GetFtDriverVersion(port_, &v), E_NOINTERFACE);
  EXPECT_EQ(YV_GetFtDriverVersion(port_, nullptr), E_INVALIDARG);
}

TEST_F(ComPort, UnplugMakesIoClosedFromOutsideAfterTheLastBytes) {
  ASSERT_EQ(Open(pty_.Name()), S_OK);
  ASSERT_TRUE(pty_.Send("last\n"));
  ASSERT_TRUE(WaitInCount(5));
  int ev = Arm();
  pty_.CloseMaster();
  // The bytes that arrived before are still handed out, then the port
  // reports the device gone.
  EXPECT_EQ(ReadAll(), "last\n");
  // A host that re-arms and waits learns of it without polling.
  HRESULT hr = S_OK;
  for (int i = 0; i < 20 && hr == S_OK; ++i) {
    hr = YV_StartWaitEvent(port_, &ev);
    if (hr == S_OK) Signalled(ev, 200);
  }
  EXPECT_EQ(hr, YV_E_CLOSED_OUTSIDE);
  char buf[4];
  int32_t n = 0;
  EXPECT_EQ(YV_Read(port_, buf, 4, &n), YV_E_CLOSED_OUTSIDE);
  EXPECT_EQ(YV_GetInCount(port_, &n), YV_E_CLOSED_OUTSIDE);
  EXPECT_EQ(YV_Write(port_, "x", 1), YV_E_CLOSED_OUTSIDE);
  EXPECT_EQ(YV_StartWaitEvent(port_, &ev), YV_E_CLOSED_OUTSIDE);
  EXPECT_EQ(YV_Clear(port_, 1, 0), YV_E_CLOSED_OUTSIDE);
}

TEST_F(ComPort, FullBufferThrottlesTheLineAndLosesNothing) {
  ASSERT_EQ(Open(pty_.Name(), 0), S_OK);
  constexpr size_t kTotal = 100000;
  std::string sent(kTotal, '\0');
  for (size_t i = 0; i < kTotal; ++i) sent[i] = static_cast<char>('A' + i % 26);
  auto writer = std::async(std::launch::async, [&] { return pty_.Send(sent); });
  // The port stops at its limit; the rest waits in the kernel.
  ASSERT_TRUE(WaitInCount(ylvane::CYvVComPort::kBufferLimit, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  int32_t n = 0;
  ASSERT_EQ(YV_GetInCount(port_, &n), S_OK);
  EXPECT_EQ(n, static_cast<int32_t>(ylvane::CYvVComPort::kBufferLimit));
  std::string got;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (got.size() < kTotal && std::chrono::steady_clock::now() < end) {
    char buf[8192];
    int32_t r = 0;
    ASSERT_EQ(YV_Read(port_, buf, sizeof buf, &r), S_OK);
    got.append(buf, r);
    if (r == 0) Signalled(Arm(), 50);
  }
  EXPECT_TRUE(writer.get());
  EXPECT_EQ(got.size(), kTotal);
  EXPECT_TRUE(got == sent);
}

TEST_F(ComPort, ALineLongerThanTheBufferStillWakesTheHost) {
  // The reader stops at its limit; without the event character in what it
  // holds, only a full buffer can make the host read and make room.
  ASSERT_EQ(Open(pty_.Name(), 10), S_OK);
  const std::string line = std::string(ylvane::CYvVComPort::kBufferLimit + 4096, 'x') + "\n";
  auto writer = std::async(std::launch::async, [&] { return pty_.Send(line); });
  std::string got;
  while (got.size() < line.size()) {
    ASSERT_TRUE(Signalled(Arm(), 5000)) << "no wake-up after " << got.size() << " bytes";
    for (;;) {
      char buf[8192];
      int32_t r = 0;
      ASSERT_EQ(YV_Read(port_, buf, sizeof buf, &r), S_OK);
      if (r == 0) break;
      got.append(buf, r);
    }
  }
  EXPECT_TRUE(writer.get());
  EXPECT_TRUE(got == line);
}

TEST_F(ComPort, CloseHandleReleasesTheDevice) {
  ASSERT_EQ(Open(pty_.Name()), S_OK);
  EXPECT_FALSE(pty_.SlaveClosed(100));
  EXPECT_EQ(YV_CloseHandle(port_), S_OK);
  port_ = nullptr;
  EXPECT_TRUE(pty_.SlaveClosed());
}

// Listed between two ports, it sees which of them the teardown has
// already released when its own turn comes.
class OrderProbe final : public ylvane::IUnknown {
 public:
  OrderProbe(const TestPty& newer, const TestPty& older) : newer_(newer), older_(older) {}
  HRESULT QueryInterface(const ylvane::YvIid&, void**) override { return E_NOINTERFACE; }
  uint32_t AddRef() override { return 2; }
  uint32_t Release() override {
    released_ = true;
    newerClosedFirst_ = newer_.SlaveClosed(0) && !older_.SlaveClosed(0);
    return 1;
  }
  bool released_ = false;
  bool newerClosedFirst_ = false;

 private:
  const TestPty& newer_;
  const TestPty& older_;
};

TEST(ComPortLibrary, FinalyzeClosesPortsStillOpenNewestFirst) {
  TestPty a, b;
  ASSERT_TRUE(a.Ok() && b.Ok());
  OrderProbe probe(b, a);
  ASSERT_EQ(YV_Initialize(0), S_OK);
  YV_HANDLE pa = nullptr, pb = nullptr;
  ASSERT_EQ(YV_Open(&pa, a.Name(), YV_PORT_COM, 9600, 10, 2), S_OK);
  {
    ylvane::LibRef lib;
    lib->AddObject(&probe);
  }
  ASSERT_EQ(YV_Open(&pb, b.Name(), YV_PORT_COM, 9600, 10, 2), S_OK);
  EXPECT_EQ(YV_Finalyze(), S_OK);
  EXPECT_TRUE(probe.released_);
  EXPECT_TRUE(probe.newerClosedFirst_);
  EXPECT_TRUE(a.SlaveClosed());
  EXPECT_TRUE(b.SlaveClosed());
}

TEST_F(ComPort, CloseWithAFullBufferAndBytesStillComing) {
  ASSERT_EQ(Open(pty_.Name(), 0), S_OK);
  YV_CloseHandle(port_);
  port_ = nullptr;
  // The reader is stopped while it waits for room, right after a read made
  // some: the close must never hang, however the two meet.
  const std::string block(ylvane::CYvVComPort::kBufferLimit + 4096, 'z');
  for (int round = 0; round < 20; ++round) {
    ASSERT_EQ(Open(pty_.Name(), 0), S_OK);
    auto writer = std::async(std::launch::async, [&] { return pty_.Send(block); });
    ASSERT_TRUE(WaitInCount(ylvane::CYvVComPort::kBufferLimit, 5000));
    char one;
    int32_t n = 0;
    ASSERT_EQ(YV_Read(port_, &one, 1, &n), S_OK);
    auto closed = std::async(std::launch::async, [h = port_] { return YV_CloseHandle(h); });
    ASSERT_EQ(closed.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(closed.get(), S_OK);
    port_ = nullptr;
    tcflush(pty_.Master(), TCIOFLUSH);  // the writer may hang on what nobody reads
    pty_.Receive(1, 10);
    writer.wait_for(std::chrono::seconds(5));
  }
}

// The port interface below the exports.
class PortObject : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(a_.Ok() && b_.Ok()); }
  TestPty a_, b_;
};

TEST_F(PortObject, OpenOnAnOpenPortReopensAndAFailureLeavesItClosed) {
  ylvane::IYvPort* port = nullptr;
  ASSERT_EQ(ylvane::CreatePort(a_.Name(), &port, YV_PORT_COM, 9600, 10, 2), S_OK);
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(port->GetType(), YV_PORT_COM);
  EXPECT_EQ(std::u16string(port->GetName()), a_.Name());
  int evA = -1;
  ASSERT_EQ(port->StartWaitEvent(&evA), S_OK);

  ASSERT_EQ(port->Open(b_.Name(), 9600, 10, 2), S_OK);
  EXPECT_TRUE(a_.SlaveClosed());
  EXPECT_EQ(std::u16string(port->GetName()), b_.Name());
  int evB = -1;
  ASSERT_EQ(port->StartWaitEvent(&evB), S_OK);
  EXPECT_EQ(evB, evA);  // the event lives as long as the port
  ASSERT_TRUE(b_.Send("b\n"));
  EXPECT_TRUE(Signalled(evB, 2000));

  EXPECT_EQ(port->Open(u"pts/999999", 9600, 10, 2), YV_E_PORT_NOT_EXISTS);
  EXPECT_FALSE(port->IsOpened());
  EXPECT_TRUE(b_.SlaveClosed());
  char buf[4];
  int32_t n;
  EXPECT_EQ(port->Read(buf, 4, &n), YV_E_COMM);
  EXPECT_EQ(port->Release(), 0u);
}

TEST_F(PortObject, QueryInterfaceCountsAReference) {
  ylvane::IYvPort* port = nullptr;
  ASSERT_EQ(ylvane::CreatePort(a_.Name(), &port, YV_PORT_COM, 9600, 10, 2), S_OK);
  void* same = nullptr;
  EXPECT_EQ(port->QueryInterface(ylvane::IID_IYvPort, &same), S_OK);
  EXPECT_EQ(same, static_cast<void*>(port));
  void* none = &same;
  EXPECT_EQ(port->QueryInterface(ylvane::IID_IYvDll, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(port->Release(), 1u);
  EXPECT_EQ(port->Release(), 0u);
}

TEST_F(PortObject, FactoryRefusesUnknownKinds) {
  ylvane::IYvPort* port = reinterpret_cast<ylvane::IYvPort*>(1);
  EXPECT_EQ(ylvane::CreatePort(a_.Name(), &port, 7, 9600, 10, 2), E_INVALIDARG);
  EXPECT_EQ(port, nullptr);
}

struct PathCase {
  const char16_t* name;
  const char* path;  // null: no device can have this name
};

TEST(DevicePath, NamesAreRelativeToDev) {
  const PathCase cases[] = {
      {u"ttyUSB0", "/dev/ttyUSB0"},
      {u"pts/3", "/dev/pts/3"},
      {u"ttyS0", "/dev/ttyS0"},
      {u"COM3", "/dev/COM3"},  // never case-changed
      {u"serial/by-id/usb-x", "/dev/serial/by-id/usb-x"},
      {u"tty012345678901234567890123456", "/dev/tty012345678901234567890123456"},  // 30
      {u"tty0123456789012345678901234567", nullptr},                                // 31
      {u"", nullptr},
      {u"/dev/ttyS0", nullptr},
      {u"pts//3", nullptr},
      {u"pts/", nullptr},
      {u"./ttyS0", nullptr},
      {u"pts/../sda", nullptr},
      {u"..", nullptr},
      {u"tty\xD800", nullptr},  // unpaired surrogate
      {u"порт", "/dev/порт"},
  };
  for (const auto& c : cases) {
    auto path = ylvane::CYvVComPort::DevicePath(c.name);
    if (c.path) {
      ASSERT_TRUE(path.has_value()) << c.path;
      EXPECT_EQ(*path, c.path);
    } else {
      EXPECT_FALSE(path.has_value());
    }
  }
}

}  // namespace
