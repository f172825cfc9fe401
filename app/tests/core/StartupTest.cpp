// The program's start: its command line, and how one instance finds and
// wakes the other.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
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

// The program's handling of the file size limit: a write past it fails
// with EFBIG and the program goes on, and a program it starts (the help
// viewer, a link's browser) gets the signal in its usual way, not ignored.
TEST(FileSizeSignal, AWritePastTheLimitFailsAndStartedProgramsDoNotInheritIt) {
  struct sigaction before {};
  sigaction(SIGXFSZ, nullptr, &before);
  CatchFileSizeSignal();

  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const int fd = open(QFile::encodeName(dir.filePath("f")).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
  const rlimit old = limit;
  limit.rlim_cur = 4;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const ssize_t part = write(fd, "0123456789", 10);
  const ssize_t more = write(fd, "456789", 6);
  const int err = errno;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
  close(fd);
  EXPECT_EQ(part, 4);
  EXPECT_EQ(more, -1);
  EXPECT_EQ(err, EFBIG);

  // The signals a started program ignores, from its own status.
  QProcess child;
  child.start("cat", {"/proc/self/status"});
  ASSERT_TRUE(child.waitForFinished(10000));
  QString ignored;
  for (const QByteArray& line : child.readAllStandardOutput().split('\n'))
    if (line.startsWith("SigIgn:")) ignored = QString::fromLatin1(line.mid(7).trimmed());
  bool ok = false;
  const qulonglong mask = ignored.toULongLong(&ok, 16);
  ASSERT_TRUE(ok) << ignored.toStdString();
  EXPECT_EQ(mask & (1ull << (SIGXFSZ - 1)), 0u) << "SigIgn " << ignored.toStdString();

  sigaction(SIGXFSZ, &before, nullptr);
}

// How the instances of a test meet: in a runtime folder of the user's own
// (a socket file there), or, with a runtime folder others may enter, on a
// name in the abstract namespace.
enum class Meeting { PrivateFolder, AbstractName };

void PrintTo(Meeting AMeeting, std::ostream* AOut) {
  *AOut << (AMeeting == Meeting::PrivateFolder ? "PrivateFolder" : "AbstractName");
}

// A socket bound at the instances' address as another program could bind
// it, listening when ABacklog is not negative. -1 when it cannot be made.
int BindAt(const TInstanceAddress& AAt, int ABacklog) {
  const QByteArray name = AAt.abstract ? AAt.name.toUtf8() : QFile::encodeName(AAt.name);
  const size_t skip = AAt.abstract ? 1 : 0;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (fd < 0 || size_t(name.size()) + skip + 1 > sizeof addr.sun_path) return -1;
  memcpy(addr.sun_path + skip, name.constData(), size_t(name.size()));
  const socklen_t len = socklen_t(offsetof(sockaddr_un, sun_path) + skip + size_t(name.size()));
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || (ABacklog >= 0 && listen(fd, ABacklog) != 0)) {
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
  QTemporaryDir dir_;  // made 0700: the user's own
  QByteArray old_;
  std::vector<QString> locked_;
};

class InstancesMeeting : public Instances, public ::testing::WithParamInterface<Meeting> {
 protected:
  void SetUp() override {
    Instances::SetUp();
    if (GetParam() == Meeting::AbstractName) {
      ASSERT_TRUE(QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                        QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                                        QFile::ExeOther));
    }
    ASSERT_EQ(InstanceAddress().abstract, GetParam() == Meeting::AbstractName);
  }
};

TEST_P(InstancesMeeting, TheRunningInstanceIsToldToShowItself) {
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

TEST_P(InstancesMeeting, NobodyListeningMeansNoInstance) {
  EXPECT_EQ(SendToRunningInstance(CD_SHOWAPP, 5000), TInstanceAnswer::None);

  // A socket that nobody listens on: no instance. In the private folder only
  // an instance that did not end cleanly can have left it, and the next one
  // takes its place; an abstract name anyone may hold, and this one cannot
  // listen, which it reports with the reason.
  const int fd = BindAt(InstanceAddress(), -1);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(SendToRunningInstance(CD_SHOWAPP, 5000), TInstanceAnswer::None);
  QString why;
  auto blocked = std::make_unique<TInstanceListener>();
  if (GetParam() == Meeting::PrivateFolder) {
    EXPECT_EQ(blocked->Listen(&why), TListenResult::Listening) << why.toStdString();
    EXPECT_EQ(TInstanceAnswer::Answered, SendWhileServing(CD_SHOWAPP, 5000));
    blocked.reset();
    close(fd);
  } else {
    EXPECT_EQ(blocked->Listen(&why), TListenResult::Failed);
    EXPECT_TRUE(why.contains(InstanceAddress().name)) << why.toStdString();
    close(fd);
  }
  // An instance that ended leaves nothing behind: the name is free again.
  EXPECT_FALSE(QFileInfo::exists(dir_.filePath("Sorvex.socket")));
  TInstanceListener listener;
  EXPECT_EQ(listener.Listen(), TListenResult::Listening);
  EXPECT_EQ(TInstanceAnswer::Answered, SendWhileServing(CD_SHOWAPP, 5000));
}

TEST_P(InstancesMeeting, AnInstanceTooBusyToAnswerStillCounts) {
  // Something of this user listens on the name but never answers (an
  // instance typing a long card): it is there, and a starting one must not
  // run beside it.
  const int fd = BindAt(InstanceAddress(), 4);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(SendToRunningInstance(CD_SHOWAPP, 300), TInstanceAnswer::Silent);
  close(fd);
}

INSTANTIATE_TEST_SUITE_P(Where, InstancesMeeting, ::testing::Values(Meeting::PrivateFolder, Meeting::AbstractName),
                         [](const ::testing::TestParamInfo<Meeting>& AInfo) {
                           return AInfo.param == Meeting::PrivateFolder ? "PrivateFolder" : "AbstractName";
                         });

TEST_F(Instances, TheSocketLivesInTheUsersOwnRuntimeFolder) {
  EXPECT_EQ(InstanceAddress().name, dir_.filePath("Sorvex.socket"));
  TInstanceListener listener;
  ASSERT_EQ(listener.Listen(), TListenResult::Listening);
  EXPECT_EQ(QFileInfo(dir_.filePath("Sorvex.socket")).ownerId(), getuid());

  // A runtime folder others may enter, or not a folder of this user's (as
  // after su), holds no socket: the name is an abstract one.
  const QString open = dir_.filePath("open");
  ASSERT_TRUE(QDir().mkdir(open));
  ASSERT_TRUE(QFile::setPermissions(open, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeOther));
  UseRuntimeDir(open);
  EXPECT_TRUE(InstanceAddress().abstract);
  EXPECT_TRUE(PrivateRuntimeDir().isEmpty());
  if (geteuid() == 0) {
    const QString others = dir_.filePath("others");
    ASSERT_TRUE(QDir().mkdir(others));
    ASSERT_EQ(chown(QFile::encodeName(others).constData(), 54321, 54321), 0);
    UseRuntimeDir(others);
    EXPECT_TRUE(InstanceAddress().abstract);
  }
}

TEST_F(Instances, TheNameFitsWhateverTheRuntimeFolderAndKeepsSessionsApart) {
  const TInstanceAddress short_ = InstanceAddress();
  // A runtime folder whose path alone is longer than a socket's name may be.
  const QString longDir = dir_.path() + "/" + QString(120, u'r');
  ASSERT_TRUE(QDir().mkpath(longDir));
  ASSERT_TRUE(QFile::setPermissions(longDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
  UseRuntimeDir(longDir);
  const TInstanceAddress long_ = InstanceAddress();
  EXPECT_TRUE(long_.abstract);
  EXPECT_LT(long_.name.toUtf8().size(), 100);
  EXPECT_NE(long_.name, short_.name);
  TInstanceListener listener;
  ASSERT_EQ(listener.Listen(), TListenResult::Listening);
  EXPECT_EQ(TInstanceAnswer::Answered, SendWhileServing(CD_SHOWAPP, 5000));
  // Another session, another name, even where both fall back to it.
  const QString longAbstract = InstanceAbstractName();
  UseRuntimeDir(dir_.path());
  EXPECT_NE(InstanceAbstractName(), longAbstract);
  EXPECT_EQ(SendToRunningInstance(CD_SHOWAPP, 5000), TInstanceAnswer::None);
}

// Another user takes the names first, in a child that becomes that user,
// and listens without ever taking a connection, its queue full. AReady gets
// a byte for each name it holds: the abstract name, then the socket file.
pid_t SquatAsAnotherUser(const TInstanceAddress& AAbstract, const TInstanceAddress& AFile, int AReady) {
  const pid_t child = fork();
  if (child != 0) return child;
  char held[2] = {0, 0};
  if (setgid(54321) == 0 && setuid(54321) == 0) {
    int fds[2] = {BindAt(AAbstract, 0), BindAt(AFile, 0)};
    for (int i = 0; i < 2; ++i) {
      if (fds[i] < 0) continue;
      held[i] = 1;
      // One connection fills a queue of length 0; the next one is refused.
      const int filler = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
      sockaddr_un addr{};
      socklen_t len = sizeof addr;
      getsockname(fds[i], reinterpret_cast<sockaddr*>(&addr), &len);
      [[maybe_unused]] int rc = connect(filler, reinterpret_cast<sockaddr*>(&addr), len);
    }
  }
  [[maybe_unused]] ssize_t n = write(AReady, held, sizeof held);
  pause();
  _exit(0);
}

TEST_F(Instances, AnotherUserCannotTakeTheNameNorHoldAStartUp) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to listen as another user";
  const TInstanceAddress ours = InstanceAddress();
  ASSERT_FALSE(ours.abstract);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = SquatAsAnotherUser({InstanceAbstractName(), true}, ours, ready[1]);
  ASSERT_GE(child, 0);
  close(ready[1]);
  char held[2] = {0, 0};
  EXPECT_EQ(read(ready[0], held, sizeof held), 2);
  close(ready[0]);
  EXPECT_EQ(held[0], 1) << "the other user could not take the abstract name";
  EXPECT_EQ(held[1], 0) << "the other user made a socket in this user's runtime folder";

  // In the user's own runtime folder nothing of the other user's counts:
  // this instance listens, and a start finds it.
  {
    TInstanceListener listener;
    QString why;
    EXPECT_EQ(listener.Listen(&why), TListenResult::Listening) << why.toStdString();
    EXPECT_EQ(TInstanceAnswer::Answered, SendWhileServing(CD_SHOWAPP, 5000));
  }

  // Without such a folder the abstract name is the other user's: it is no
  // instance, a start does not wait for it, and the listener says why it
  // cannot be found.
  ASSERT_TRUE(QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                     QFile::ExeOther));
  ASSERT_TRUE(InstanceAddress().abstract);
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(SendToRunningInstance(CD_SHOWAPP, 5000), TInstanceAnswer::None);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(2500)) << "the start waited";
  TInstanceListener listener;
  QString why;
  EXPECT_EQ(listener.Listen(&why), TListenResult::Failed);
  EXPECT_TRUE(why.contains(InstanceAbstractName()) && why.contains("takes no connections")) << why.toStdString();

  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
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
  EXPECT_TRUE(QFileInfo(dir_.filePath("Sorvex.lock")).isFile());
  ExpectTheNextStartWaitsFor(first);
}

TEST_F(Instances, ALockTheRuntimeFolderCannotHoldIsTakenInThePerUserFolder) {
  // A runtime folder others may enter: whoever can write there could hold
  // the lock and keep every start waiting.
  ASSERT_TRUE(QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                     QFile::WriteOther | QFile::ExeOther));
  {
    TStartLock open;
    ASSERT_TRUE(open.Acquire());
    EXPECT_FALSE(QFileInfo::exists(dir_.filePath("Sorvex.lock")));
    EXPECT_TRUE(QFileInfo(home_.filePath("Sorvex/Sorvex.lock")).isFile());
  }

  // As after su: $XDG_RUNTIME_DIR is there, but not ours to write in.
  UseRuntimeDir(LockedFolder(dir_.filePath("locked")));
  TStartLock first;
  ASSERT_TRUE(first.Acquire());
  EXPECT_TRUE(QFileInfo(home_.filePath("Sorvex/Sorvex.lock")).isFile());
  ExpectTheNextStartWaitsFor(first);

  // Nowhere to make one: no lock, and the reason names the folder.
  ASSERT_TRUE(QFile::remove(home_.filePath("Sorvex/Sorvex.lock")));
  LockedFolder(home_.filePath("Sorvex"));
  TStartLock none;
  QString why;
  EXPECT_FALSE(none.Acquire(&why));
  EXPECT_FALSE(none.Held());
  EXPECT_TRUE(why.contains(home_.filePath("Sorvex"))) << why.toStdString();
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
