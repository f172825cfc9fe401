// The program's start: its command line, and how one instance finds and
// wakes the other.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

#include "CommandLine.h"
#include "common/ConfigHome.h"
#include "common/QStringPrinter.h"
#include "SingleInstance.h"
#include "Startup.h"

namespace {

struct CmdCase {
  QStringList params;
  bool autorun;
  bool unregister;
  QString profile;
  QString port;
  int fmtClass;  // the one class the line sets, or -1
  QString fmtName;
  bool fmtStd;
};

TEST(CommandLine, SwitchesProfileAndFormats) {
  const CmdCase cases[] = {
      {{}, false, false, "", "", -1, "", false},
      {{"-autorun"}, true, false, "", "", -1, "", false},
      {{"/AUTORUN"}, true, false, "", "", -1, "", false},
      {{"-Unregister"}, false, true, "", "", -1, "", false},
      {{"/pCOM3"}, false, false, "", "COM3", -1, "", false},
      {{"-pttyUSB0", "-ppts/3"}, false, false, "", "pts/3", -1, "", false},
      {{"-p"}, false, false, "", "", -1, "", false},  // empty: the stored port is used
      {{"-PttyS0"}, false, false, "", "", -1, "", false},  // upper case is no switch of ours
      {{"-sMULName"}, false, false, "", "", cft_MUL, "Name", true},
      {{"-uHIDName"}, false, false, "", "", cft_Hid, "Name", false},
      {{"-sICName"}, false, false, "", "", cft_iCode, "Name", true},
      {{"-uEXName"}, false, false, "", "", cft_Ex, "Name", false},
      {{"-smulName"}, false, false, "", "", cft_MUL, "Name", true},  // the class word in any case
      {{"-sM1Kx y"}, false, false, "", "", cft_M1K, "x y", true},
      {{"-sMULx"}, false, false, "", "", cft_MUL, "x", true},
      {{"-sEXtra"}, false, false, "", "", cft_Ex, "tra", true},
      {{"-sEMMa"}, false, false, "", "", cft_Emm, "a", true},
      {{"-sMUL"}, false, false, "", "", -1, "", false},   // too short
      {{"-sICx"}, false, false, "", "", -1, "", false},   // too short, whatever the class
      {{"-SMULName"}, false, false, "", "", -1, "", false},  // the letter is lower case only
      {{"-sXYZName"}, false, false, "", "", -1, "", false},  // no class
      {{"office"}, false, false, "office", "", -1, "", false},
      {{"office", "home"}, false, false, "office", "", -1, "", false},
      {{"", "-", "office"}, false, false, "office", "", -1, "", false},  // empty parameters do nothing
      {{"-autorun", "/sHIDw", "shop", "-pttyACM0"}, true, false, "shop", "ttyACM0", cft_Hid, "w", true},
  };
  for (const CmdCase& c : cases) {
    TMyCmdLineInfo info;
    info.ParseCommandLine(c.params);
    const std::string what = c.params.join(' ').toStdString();
    EXPECT_EQ(info.m_fAutorun, c.autorun) << what;
    EXPECT_EQ(info.m_fUnregister, c.unregister) << what;
    EXPECT_EQ(info.m_sFileName, c.profile) << what;
    EXPECT_EQ(info.m_sPort, c.port) << what;
    for (int k = 0; k < kCvtFmtTypeCount; ++k) {
      EXPECT_EQ(info.m_sFmt[k], k == c.fmtClass ? c.fmtName : QString()) << what << " class " << k;
      EXPECT_EQ(info.m_fFmtStd[k], k == c.fmtClass && c.fmtStd) << what << " class " << k;
    }
  }
}

// The usage and the version are asked for by their own whole words only;
// everything else stays what the switches above make of it.
TEST(CommandLine, UsageAndVersionByTheirOwnWords) {
  const struct {
    QStringList params;
    TInfoRequest request;
  } cases[] = {
      {{}, TInfoRequest::None},
      {{"--help"}, TInfoRequest::Usage},
      {{"-h"}, TInfoRequest::Usage},
      {{"--version"}, TInfoRequest::Version},
      {{"-autorun", "-pttyUSB0", "--version"}, TInfoRequest::Version},
      {{"office", "-h"}, TInfoRequest::Usage},
      {{"-help"}, TInfoRequest::None},  // no switch of ours, as before
      {{"/h"}, TInfoRequest::None},
      {{"-H"}, TInfoRequest::None},
      {{"-version"}, TInfoRequest::None},
      {{"-hID"}, TInfoRequest::None},
      {{"-p--help"}, TInfoRequest::None},  // the port named "--help"
  };
  for (const auto& c : cases)
    EXPECT_EQ(InfoRequest(c.params), c.request) << c.params.join(' ').toStdString();
}

// The X display a start opens: $DISPLAY, or Qt's "-display"; none to try
// when Qt is told to use another platform.
TEST(CommandLine, XDisplayOfTheStart) {
  const struct {
    QStringList args;
    QString platform;  // $QT_QPA_PLATFORM
    QString display;   // $DISPLAY
    std::optional<QString> expected;
  } cases[] = {
      {{}, "", ":1", ":1"},
      {{}, "", "", ""},
      {{"-autorun"}, "xcb", ":1", ":1"},
      {{"-display", ":7"}, "", ":1", ":7"},
      {{"--display", ":7", "office"}, "", "", ":7"},
      {{"-display"}, "", ":1", ":1"},  // no name follows: Qt ignores it too
      {{}, "offscreen", "", std::nullopt},
      {{}, "wayland;xcb", "", std::nullopt},
      {{}, "xcb:nograb", "", ""},
      {{"-platform", "offscreen"}, "", "", std::nullopt},
      {{"--platform", "xcb"}, "offscreen", ":2", ":2"},
      {{"-pxcb", "-platformoffscreen"}, "", ":3", ":3"},  // no Qt switches
  };
  for (const auto& c : cases)
    EXPECT_EQ(XDisplayOfStart(c.args, c.platform, c.display), c.expected)
        << c.args.join(' ').toStdString() << " / " << c.platform.toStdString();
}

// A socket bound (and listening, when AListen) on the instances' name, as
// another program could bind it: the name lives in the abstract namespace.
int BindInstanceName(bool AListen, const QString& AName = InstanceSocketName()) {
  const QByteArray name = AName.toUtf8();
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (fd < 0 || size_t(name.size()) + 1 > sizeof addr.sun_path) return -1;
  memcpy(addr.sun_path + 1, name.constData(), size_t(name.size()));
  const socklen_t len = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(name.size()));
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || (AListen && listen(fd, 4) != 0)) {
    close(fd);
    return -1;
  }
  return fd;
}

// Each test runs with a runtime folder and a configuration home of its own.
class Instances : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = qgetenv("XDG_RUNTIME_DIR");
    UseRuntimeDir(dir_.path());
  }
  void TearDown() override { qputenv("XDG_RUNTIME_DIR", old_); }
  static void UseRuntimeDir(const QString& APath) { qputenv("XDG_RUNTIME_DIR", QFile::encodeName(APath)); }
  // A folder in which no lock file can be made: read-only, and (as root
  // writes anyway) with a folder where the lock file would go.
  QString LockedFolder(const QString& APath) {
    QDir().mkpath(APath + "/Sorvex.lock");
    QFile::setPermissions(APath, QFile::ReadOwner | QFile::ExeOwner);
    locked_.push_back(APath);
    return APath;
  }
  ~Instances() override {
    for (const QString& p : locked_) QFile::setPermissions(p, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }

  // Sends from another thread, as a second process would, while this thread
  // runs the listener's events.
  TInstanceAnswer SendWhileServing(uint32_t data, int timeoutMs) {
    std::atomic<bool> done{false};
    TInstanceAnswer answered = TInstanceAnswer::None;
    std::thread sender([&] {
      answered = SendToRunningInstance(data, timeoutMs);
      done = true;
    });
    QDeadlineTimer limit(timeoutMs + 5000);
    while (!done && !limit.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    sender.join();
    return answered;
  }

  ConfigHome home_;
  QTemporaryDir dir_;
  QByteArray old_;
  std::vector<QString> locked_;
};

TEST_F(Instances, TheRunningInstanceIsToldToShowItself) {
  TInstanceListener listener;
  ASSERT_EQ(listener.Listen(), TListenResult::Listening);
  std::vector<uint32_t> got;
  QObject::connect(&listener, &TInstanceListener::copyData, [&](uint32_t d) { got.push_back(d); });
  EXPECT_EQ(TInstanceAnswer::Answered, SendWhileServing(CD_SHOWAPP, 5000));
  EXPECT_EQ(TInstanceAnswer::Answered, SendWhileServing(7, 5000));  // other messages arrive too; the window ignores them
  EXPECT_EQ(got, (std::vector<uint32_t>{CD_SHOWAPP, 7}));

  // Only one instance listens; a starting one finds the first.
  TInstanceListener second;
  EXPECT_EQ(second.Listen(), TListenResult::AnotherListens);
  EXPECT_EQ(TInstanceAnswer::Answered, SendWhileServing(CD_SHOWAPP, 5000));
  EXPECT_EQ(got.size(), 3u);
}

TEST_F(Instances, NobodyListeningMeansNoInstance) {
  EXPECT_EQ(SendToRunningInstance(CD_SHOWAPP, 5000), TInstanceAnswer::None);

  // Something holds the name without listening: no instance, and this one
  // cannot listen, which it reports with the reason.
  const int fd = BindInstanceName(false);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(SendToRunningInstance(CD_SHOWAPP, 5000), TInstanceAnswer::None);
  QString why;
  TInstanceListener blocked;
  EXPECT_EQ(blocked.Listen(&why), TListenResult::Failed);
  EXPECT_FALSE(why.isEmpty());
  // An instance that ended leaves nothing behind: the name is free again.
  close(fd);
  TInstanceListener listener;
  EXPECT_EQ(listener.Listen(), TListenResult::Listening);
  EXPECT_EQ(TInstanceAnswer::Answered, SendWhileServing(CD_SHOWAPP, 5000));
}

TEST_F(Instances, AnInstanceTooBusyToAnswerStillCounts) {
  // Something listens on the name but never answers (an instance typing a
  // long card): it is there, and a starting one must not run beside it.
  const int fd = BindInstanceName(true);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(SendToRunningInstance(CD_SHOWAPP, 300), TInstanceAnswer::Silent);
  close(fd);
}

TEST_F(Instances, TheNameFitsWhateverTheRuntimeFolderAndKeepsSessionsApart) {
  const QString name = InstanceSocketName();
  // A runtime folder whose path alone is longer than a socket's name may be.
  const QString longDir = dir_.path() + "/" + QString(120, u'r');
  ASSERT_TRUE(QDir().mkpath(longDir));
  UseRuntimeDir(longDir);
  EXPECT_LT(InstanceSocketName().toUtf8().size(), 100);
  EXPECT_NE(InstanceSocketName(), name);  // another session, another name
  TInstanceListener listener;
  ASSERT_EQ(listener.Listen(), TListenResult::Listening);
  EXPECT_EQ(TInstanceAnswer::Answered, SendWhileServing(CD_SHOWAPP, 5000));
  UseRuntimeDir(dir_.path());
  EXPECT_EQ(InstanceSocketName(), name);
  EXPECT_EQ(SendToRunningInstance(CD_SHOWAPP, 5000), TInstanceAnswer::None);
}

TEST_F(Instances, AnotherUsersSocketIsNoInstance) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to listen as another user";
  // Another user binds our name first, in a child that becomes that user.
  const QString ours = InstanceSocketName();
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char ok = 0;
    if (setgid(54321) == 0 && setuid(54321) == 0 && BindInstanceName(true, ours) >= 0) ok = 1;
    [[maybe_unused]] ssize_t n = write(ready[1], &ok, 1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char ok = 0;
  EXPECT_EQ(read(ready[0], &ok, 1), 1);
  close(ready[0]);
  if (ok == 1) {
    // It is not one of ours: a start neither waits for it nor ends because
    // of it; our own listener cannot have the name, and says so.
    EXPECT_EQ(SendToRunningInstance(CD_SHOWAPP, 5000), TInstanceAnswer::None);
    QString why;
    TInstanceListener listener;
    EXPECT_EQ(listener.Listen(&why), TListenResult::Failed);
    EXPECT_FALSE(why.isEmpty());
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(ok, 1) << "the child could not listen";
}

// Another start's lock, taken on another thread while AHeld is held: it
// must still be waiting a while later, and get the lock once AHeld lets go.
void ExpectTheNextStartWaitsFor(TStartLock& AHeld) {
  std::atomic<bool> acquired{false};
  std::thread next([&] {
    TStartLock second;
    acquired = second.Acquire();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(acquired);  // still waiting
  AHeld.Release();
  next.join();
  EXPECT_TRUE(acquired);
}

TEST_F(Instances, TheStartLockWaitsForTheInstanceCreatingItsWindow) {
  TStartLock first;
  ASSERT_TRUE(first.Acquire());
  ExpectTheNextStartWaitsFor(first);
}

TEST_F(Instances, ALockTheRuntimeFolderCannotHoldIsTakenInThePerUserFolder) {
  // As after su: $XDG_RUNTIME_DIR is there, but not ours to write in.
  UseRuntimeDir(LockedFolder(dir_.filePath("locked")));
  TStartLock first;
  ASSERT_TRUE(first.Acquire());
  EXPECT_TRUE(QFileInfo(home_.filePath("Sorvex/Sorvex.lock")).isFile());
  ExpectTheNextStartWaitsFor(first);

  // Nowhere to make one: no lock, and the reason names both folders.
  ASSERT_TRUE(QFile::remove(home_.filePath("Sorvex/Sorvex.lock")));
  LockedFolder(home_.filePath("Sorvex"));
  TStartLock none;
  QString why;
  EXPECT_FALSE(none.Acquire(&why));
  EXPECT_FALSE(none.Held());
  EXPECT_TRUE(why.contains(dir_.filePath("locked")) && why.contains(home_.filePath("Sorvex"))) << why.toStdString();
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
