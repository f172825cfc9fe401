// The program's start: its command line, and how one instance finds and
// wakes the other.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>

#include <atomic>
#include <thread>

#include "MyCmdLineInfo.h"
#include "SingleInstance.h"

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

// Each test runs with a runtime folder of its own.
class Instances : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir_.path()));
  }
  void TearDown() override { qputenv("XDG_RUNTIME_DIR", old_); }

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

  QTemporaryDir dir_;
  QByteArray old_;
};

TEST_F(Instances, TheRunningInstanceIsToldToShowItself) {
  EXPECT_EQ(InstanceSocketPath().left(dir_.path().size() + 8), dir_.path() + "/Sorvex-");
  TInstanceListener listener;
  ASSERT_TRUE(listener.Listen());
  std::vector<uint32_t> got;
  QObject::connect(&listener, &TInstanceListener::copyData, [&](uint32_t d) { got.push_back(d); });
  EXPECT_EQ(TInstanceAnswer::Answered, SendWhileServing(CD_SHOWAPP, 5000));
  EXPECT_EQ(TInstanceAnswer::Answered, SendWhileServing(7, 5000));  // other messages arrive too; the window ignores them
  EXPECT_EQ(got, (std::vector<uint32_t>{CD_SHOWAPP, 7}));

  // Only one instance listens; a starting one finds the first.
  TInstanceListener second;
  EXPECT_FALSE(second.Listen());
  EXPECT_EQ(TInstanceAnswer::Answered, SendWhileServing(CD_SHOWAPP, 5000));
  EXPECT_EQ(got.size(), 3u);
}

TEST_F(Instances, NobodyListeningMeansNoInstance) {
  EXPECT_EQ(SendToRunningInstance(CD_SHOWAPP, 5000), TInstanceAnswer::None);

  // An instance that died left its socket file behind: the next one takes
  // the name over.
  const QByteArray path = QFile::encodeName(InstanceSocketPath());
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(size_t(path.size()), sizeof addr.sun_path);
  memcpy(addr.sun_path, path.constData(), size_t(path.size()));
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  close(fd);
  EXPECT_EQ(SendToRunningInstance(CD_SHOWAPP, 5000), TInstanceAnswer::None);
  TInstanceListener listener;
  EXPECT_TRUE(listener.Listen());
  EXPECT_EQ(TInstanceAnswer::Answered, SendWhileServing(CD_SHOWAPP, 5000));
}

TEST_F(Instances, AnInstanceTooBusyToAnswerStillCounts) {
  // Something listens on the name but never answers (an instance typing a
  // long card): it is there, and a starting one must not run beside it.
  const QByteArray path = QFile::encodeName(InstanceSocketPath());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(size_t(path.size()), sizeof addr.sun_path);
  memcpy(addr.sun_path, path.constData(), size_t(path.size()));
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(fd, 4), 0);
  EXPECT_EQ(SendToRunningInstance(CD_SHOWAPP, 300), TInstanceAnswer::Silent);
  close(fd);
}

TEST_F(Instances, TheStartLockWaitsForTheInstanceCreatingItsWindow) {
  TStartLock first;
  ASSERT_TRUE(first.Acquire());
  std::atomic<bool> acquired{false};
  std::thread next([&] {
    TStartLock second;
    acquired = second.Acquire();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(acquired);  // still waiting
  first.Release();
  next.join();
  EXPECT_TRUE(acquired);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
