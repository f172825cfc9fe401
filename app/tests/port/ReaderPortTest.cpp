// The reader port on real pseudo-terminals through the port library, and the
// synchronous hand-over to the GUI thread it is built on.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "common/LockedPty.h"
#include "DeviceIdentity.h"
#include "GuiHandOver.h"
#include "Pty.h"
#include "ReaderPort.h"
#include "SysfsFixture.h"

namespace {

using Clock = std::chrono::steady_clock;

// Runs the GUI thread's events until APred holds or ATimeoutMs passes.
bool SpinUntil(const std::function<bool()>& APred, int ATimeoutMs = 3000) {
  const auto end = Clock::now() + std::chrono::milliseconds(ATimeoutMs);
  while (!APred()) {
    if (Clock::now() >= end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Waits without running the GUI thread's events.
bool WaitUntil(const std::function<bool()>& APred, int ATimeoutMs = 3000) {
  const auto end = Clock::now() + std::chrono::milliseconds(ATimeoutMs);
  while (!APred()) {
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

QString NameOf(const TestPty& APty) { return QString::fromStdString(APty.Path().substr(5)); }

// What the handler saw; outlives the port so that a late call would show.
struct Received {
  QByteArray bytes;
  int calls = 0;
  int emptyCalls = 0;
  bool offGuiThread = false;
};

class ReaderPort : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.Ok());
    ASSERT_EQ(YV_Initialize(0), S_OK);
    port_ = std::make_unique<TPort>();
    port_->SetOnReceive([r = received_](TPort* ASender) {
      QByteArray data = ASender->Data();  // may be empty: someone took it already
      r->calls++;
      if (data.isEmpty()) r->emptyCalls++;
      if (QThread::currentThread() != QCoreApplication::instance()->thread())
        r->offGuiThread = true;
      r->bytes += data;
    });
  }
  void TearDown() override {
    port_.reset();
    YV_Finalyze();
  }
  HRESULT OpenOn(const TestPty& APty) {
    port_->SetPort(NameOf(APty));
    return port_->Open();
  }
  bool ReceivedBytes(const QByteArray& AExpected, int ATimeoutMs = 3000) {
    return SpinUntil([&] { return received_->bytes == AExpected; }, ATimeoutMs);
  }

  TestPty pty_;
  std::shared_ptr<Received> received_ = std::make_shared<Received>();
  std::unique_ptr<TPort> port_;
};

TEST_F(ReaderPort, LineArrivesInDataOnTheGuiThread) {
  ASSERT_EQ(OpenOn(pty_), S_OK);
  EXPECT_TRUE(port_->Opened());
  ASSERT_TRUE(pty_.Send("Mifare[04A1B2C3] (UL)\r\n"));
  ASSERT_TRUE(ReceivedBytes("Mifare[04A1B2C3] (UL)\r\n"));
  EXPECT_FALSE(received_->offGuiThread);
  EXPECT_TRUE(port_->Data().isEmpty());  // the handler took everything

  // The buffer is a queue between the thread and the GUI: a reader of Data
  // outside the handler takes the bytes, and the handler finds nothing.
  received_->bytes.clear();
  ASSERT_TRUE(pty_.Send("HID[0A0B] 77\r\n"));
  QByteArray taken;
  ASSERT_TRUE(WaitUntil([&] {
    taken += port_->Data();
    return taken == "HID[0A0B] 77\r\n";
  }));
  ASSERT_TRUE(SpinUntil([&] { return received_->emptyCalls > 0; }));
  EXPECT_TRUE(received_->bytes.isEmpty());
}

TEST_F(ReaderPort, LineSplitOverTwoWritesArrivesWhole) {
  ASSERT_EQ(OpenOn(pty_), S_OK);
  ASSERT_TRUE(pty_.Send("Mifare[04A1"));
  ASSERT_TRUE(pty_.Send("B2C3D4E5F6] (UL)\r\n"));
  ASSERT_TRUE(ReceivedBytes("Mifare[04A1B2C3D4E5F6] (UL)\r\n"));
  // The first part may come alone (a pass of the thread can find it before
  // the line feed wakes it), but never an empty batch.
  EXPECT_EQ(received_->emptyCalls, 0);
}

TEST_F(ReaderPort, LinesArrivingDuringAHandOverCauseNoEmptyCall) {
  ASSERT_EQ(OpenOn(pty_), S_OK);
  ASSERT_TRUE(pty_.Send("first\r\n"));
  // The GUI runs no events: the thread holds the first line's hand-over
  // while the next lines come in.
  ASSERT_TRUE(WaitUntil([&] { return port_->Thread().HandOver().Pending(); }));
  ASSERT_TRUE(pty_.Send("second\r\n"));
  ASSERT_TRUE(pty_.Send("third\r\n"));
  ASSERT_TRUE(ReceivedBytes("first\r\nsecond\r\nthird\r\n"));
  // Nothing more to hand over: the thread must not be waiting on the GUI.
  SpinUntil([] { return false; }, 200);
  EXPECT_FALSE(port_->Thread().HandOver().Pending());
  EXPECT_EQ(received_->emptyCalls, 0);
}

TEST_F(ReaderPort, AltWorkPortReadsWithoutTheReceiveEvent) {
  port_->SetAltWorkPort(true);
  ASSERT_EQ(OpenOn(pty_), S_OK);
  // No line feed: the receive event never fires, the 50 ms poll reads it.
  ASSERT_TRUE(pty_.Send("Em-Marine[0102A1B2C3] 161,45763\r"));
  EXPECT_TRUE(ReceivedBytes("Em-Marine[0102A1B2C3] 161,45763\r"));
}

TEST_F(ReaderPort, StopWhileAHandOverWaitsNeitherBlocksNorRunsTheHandler) {
  ASSERT_EQ(OpenOn(pty_), S_OK);
  ASSERT_TRUE(pty_.Send("Mifare[04A1B2C3] (UL)\r\n"));
  // The GUI thread runs no events, so the thread's call stays posted.
  ASSERT_TRUE(WaitUntil([&] { return port_->Thread().HandOver().Pending(); }));
  port_.reset();  // stops the thread and closes the port: must return
  SpinUntil([] { return false; }, 200);
  EXPECT_EQ(received_->calls, 0);
  EXPECT_TRUE(pty_.SlaveClosed());
}

TEST_F(ReaderPort, AFailingHandlerDoesNotStopTheThread) {
  auto failures = std::make_shared<int>(0);
  port_->SetOnReceive([r = received_, failures](TPort* ASender) {
    QByteArray data = ASender->Data();
    if (data.startsWith("bad")) {
      ++*failures;
      throw std::runtime_error("conversion failed");
    }
    r->bytes += data;
  });
  ASSERT_EQ(OpenOn(pty_), S_OK);
  ASSERT_TRUE(pty_.Send("bad line\r\n"));
  ASSERT_TRUE(SpinUntil([&] { return *failures == 1; }));
  ASSERT_TRUE(pty_.Send("HID[0A0B] 77\r\n"));
  EXPECT_TRUE(ReceivedBytes("HID[0A0B] 77\r\n"));
}

TEST_F(ReaderPort, OpenCloseAndReopenOnAnotherName) {
  port_->SetPort("pts/999999");
  EXPECT_EQ(port_->Open(), YV_E_PORT_NOT_EXISTS);
  EXPECT_FALSE(port_->Opened());
  port_->Close();  // nothing open: nothing happens

  ASSERT_EQ(OpenOn(pty_), S_OK);
  TestPty other;
  ASSERT_TRUE(other.Ok());
  port_->SetPort(NameOf(other));
  EXPECT_EQ(port_->Open(), S_OK);  // already open: keeps the first port
  ASSERT_TRUE(pty_.Send("first\r\n"));
  ASSERT_TRUE(ReceivedBytes("first\r\n"));

  EXPECT_EQ(port_->Reopen(), S_OK);
  EXPECT_TRUE(pty_.SlaveClosed());
  ASSERT_TRUE(other.Send("second\r\n"));
  EXPECT_TRUE(ReceivedBytes("first\r\nsecond\r\n"));

  port_->Close();
  EXPECT_FALSE(port_->Opened());
  EXPECT_TRUE(other.SlaveClosed());
}

// A new pty that gets the given name. Numbers are handed out lowest first,
// so ptys below the wanted one are held until it comes.
// Whether this process still has APath open (a gone device's link reads
// "<path> (deleted)").
bool HeldByUs(const std::string& APath) {
  std::error_code ec;
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
    const std::string target = std::filesystem::read_symlink(fd.path(), ec).string();
    if (!ec && (target == APath || target.rfind(APath + " ", 0) == 0)) return true;
  }
  return false;
}

TEST_F(ReaderPort, APulledOutReaderIsLetGoAndItsNameIsNotTakenAgainByItself) {
  // The port is named by a link below /dev that the test controls, as a
  // real reader is often known by a stable link (/dev/serial/by-id): the
  // name stays when the device behind it changes. (Waiting for the kernel
  // to hand out the old pty number again would race with every other
  // test's ptys.)
  char folder[] = "/dev/shm/sorvex-port.XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr) << "no folder of ours below /dev";
  const std::string link = std::string(folder) + "/reader";
  auto plugIn = [&](const TestPty& APty) {
    const std::string next = std::string(folder) + "/next";
    return symlink(APty.Path().c_str(), next.c_str()) == 0 && rename(next.c_str(), link.c_str()) == 0;
  };
  struct Cleanup {
    std::string folder, link;
    ~Cleanup() {
      unlink(link.c_str());
      rmdir(folder.c_str());
    }
  } cleanup{folder, link};

  ASSERT_TRUE(plugIn(pty_));
  port_->SetPort(QString::fromStdString(link.substr(5)));  // "shm/sorvex-port.XXXXXX/reader"
  ASSERT_EQ(port_->Open(), S_OK);
  ASSERT_TRUE(pty_.Send("before\r\n"));
  ASSERT_TRUE(ReceivedBytes("before\r\n"));

  // The reader is pulled out: its link goes, then the device.
  unlink(link.c_str());
  pty_.CloseMaster();
  // The thread lets go of the dead device (its hand-overs run meanwhile).
  EXPECT_TRUE(SpinUntil([&] { return !HeldByUs(pty_.Path()); }, 5000)) << "the port kept " << pty_.Path();
  EXPECT_TRUE(port_->Opened());  // still switched on for the user
  EXPECT_TRUE(port_->Lost());

  // Another device under the name: neither the thread nor a request takes
  // it, as nothing tells it from the reader (a pty has no device identity).
  TestPty plugged;
  ASSERT_TRUE(plugged.Ok());
  ASSERT_TRUE(plugIn(plugged));
  EXPECT_EQ(port_->ReopenLost(), TPort::kNotTried);
  EXPECT_FALSE(HeldByUs(plugged.Path()));
  EXPECT_TRUE(port_->Lost());

  // Switched off and on again, the port opens whatever has the name now.
  port_->Close();
  EXPECT_FALSE(port_->Opened());
  EXPECT_FALSE(port_->Lost());
  ASSERT_EQ(port_->Open(), S_OK);
  EXPECT_TRUE(HeldByUs(plugged.Path()));
  ASSERT_TRUE(plugged.Send("after\r\n"));
  EXPECT_TRUE(ReceivedBytes("before\r\nafter\r\n"));
}

// ---- the device behind a name -------------------------------------------------

TEST(DeviceIdentityTest, NamesTheDeviceNotTheName) {
  SysfsFixture sys;
  const QString root = QString::fromStdString(sys.SysRoot());
  auto identity = [&](const char* APort) { return DeviceIdentity(QString::fromLatin1(APort), root); };
  sys.AddUsb("1-1", 0x0403, 0x1234, "RDR1", "Card reader", "ttyUSB0");
  sys.AddUsb("1-2", 0x0403, 0x1234, "", "Card reader", "ttyUSB1");
  sys.AddUart("ttyS0", 4);
  sys.AddUart("ttyS1", 4);
  sys.AddVirtualTty("tty1");
  const QString reader = identity("ttyUSB0"), unnamed = identity("ttyUSB1"), uart = identity("ttyS0");
  EXPECT_EQ(reader, "usb 0403:1234 RDR1");
  // Without a serial number the device is known by its place alone.
  EXPECT_TRUE(unnamed.startsWith("sysfs /devices/")) << unnamed.toStdString();
  EXPECT_TRUE(uart.startsWith("sysfs /devices/")) << uart.toStdString();
  EXPECT_NE(uart, identity("ttyS1"));
  // No device behind the name, or no name of a port.
  for (const char* none : {"tty1", "ttyUSB7", "pts/3", "serial/by-id/x", "", ".."})
    EXPECT_TRUE(identity(none).isEmpty()) << none;

  // The same reader in another socket is the same device; another device
  // under the reader's name, or in the unnamed one's socket, is not.
  sys.RemoveUsb("1-1");
  sys.AddUsb("1-3", 0x0403, 0x1234, "RDR1", "Card reader", "ttyUSB0");
  EXPECT_EQ(identity("ttyUSB0"), reader);
  sys.RemoveUsb("1-3");
  sys.AddUsb("1-1", 0x0403, 0x1234, "RDR2", "Card reader", "ttyUSB0");
  EXPECT_NE(identity("ttyUSB0"), reader);
  sys.RemoveUsb("1-2");
  sys.AddUsb("1-2", 0x0403, 0x1235, "RDR3", "Card reader", "ttyUSB1");
  EXPECT_NE(identity("ttyUSB1"), unnamed);
}

// ---- the hand-over alone ---------------------------------------------------

// ---- why a port could not be opened ----------------------------------------

TEST(PortOpenReason, AFailingDeviceIsNamedInTheLibrarysWordsInTheLanguageAsked) {
  // A device anyone may use (root too) that refuses to open.
  LockedPty locked;
  ASSERT_TRUE(locked.Ok());
  ASSERT_EQ(YV_Initialize(0), S_OK);
  TPort port;
  port.SetPort(locked.Name());
  const HRESULT hr = port.Open();
  YV_Finalyze();
  ASSERT_EQ(hr, YV_E_PORT_OPEN);
  const struct {
    int32_t lang;
    const char* reason;
  } cases[] = {
      {1033, "Error opening port."},
      {1049, "Ошибка открытия порта."},
      {0x407, "Error opening port."},  // a language the library has no texts in
  };
  for (const auto& c : cases)
    EXPECT_EQ(PortOpenReason(hr, locked.Name(), c.lang).toStdString(), c.reason) << c.lang;
  // A code the library has no text for is shown as the number.
  EXPECT_EQ(PortOpenReason(E_FAIL, locked.Name(), 1033).toStdString(), "0x80004005");
}

// A real name below /dev/serial/by-id is longer than the library takes: the
// user is told that, not a bare code.
TEST(PortOpenReason, ANameTooLongForTheLibrarySaysSo) {
  ASSERT_EQ(YV_Initialize(0), S_OK);
  TPort port;
  const QString name = QStringLiteral("serial/by-id/usb-Maker_Card_reader_R1-if00-port0");
  port.SetPort(name);
  const HRESULT hr = port.Open();
  YV_Finalyze();
  EXPECT_EQ(PortOpenReason(hr, name, 1033).toStdString(),
            "its name is longer than the 30 characters a port name may have.");
}

TEST(PortOpenReasonDeathTest, ADeviceThisUserMayNotUseNamesTheGroupItBelongsTo) {
  // Only the device's group may read and write it, and the user is not in
  // that group: root becomes nobody for this, in a process of its own.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TestPty pty;
  ASSERT_TRUE(pty.Ok());
  ASSERT_EQ(chmod(pty.Path().c_str(), 0060), 0);
  struct stat st {};
  ASSERT_EQ(stat(pty.Path().c_str(), &st), 0);
  const group* owner = getgrgid(st.st_gid);
  ASSERT_NE(owner, nullptr);
  const std::string expected = "this user may not read and write the device, which belongs to the group \"" +
                               std::string(owner->gr_name) + "\"";
  EXPECT_EXIT(
      {
        const passwd* nobody = getpwnam("nobody");
        if (geteuid() == 0 &&
            (!nobody || setgroups(0, nullptr) != 0 || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0))
          _exit(2);
        YV_Initialize(0);
        TPort port;
        port.SetPort(NameOf(pty));
        const HRESULT hr = port.Open();
        std::fprintf(stderr, "%s\n", PortOpenReason(hr, port.Port(), 1033).toUtf8().constData());
        _exit(hr == YV_E_PORT_OPEN ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), expected);
}

TEST(GuiHandOverTest, CallRunsOnTheContextThreadAndReportsFailureAsValue) {
  QObject context;
  GuiHandOver handOver(&context);
  std::atomic<bool> onGui{false};
  GuiHandOver::Outcome first{}, second{};
  std::string error;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    first = handOver.Call([&] { onGui = QThread::currentThread() == context.thread(); });
    second = handOver.Call([] { throw std::runtime_error("bad card"); }, &error);
    done = true;
  });
  EXPECT_TRUE(SpinUntil([&] { return done.load(); }));
  worker.join();
  EXPECT_EQ(first, GuiHandOver::Outcome::Done);
  EXPECT_TRUE(onGui);
  EXPECT_EQ(second, GuiHandOver::Outcome::Failed);
  EXPECT_EQ(error, "bad card");
}

TEST(GuiHandOverTest, CancelEndsTheWaitAndTheCallNeverRuns) {
  QObject context;
  GuiHandOver handOver(&context);
  std::atomic<bool> ran{false};
  GuiHandOver::Outcome outcome = GuiHandOver::Outcome::Done;
  std::thread worker([&] { outcome = handOver.Call([&] { ran = true; }); });
  ASSERT_TRUE(WaitUntil([&] { return handOver.Pending(); }));
  handOver.Cancel();
  worker.join();  // would hang if the wait could not be cancelled
  EXPECT_EQ(outcome, GuiHandOver::Outcome::Cancelled);
  SpinUntil([] { return false; }, 100);
  EXPECT_FALSE(ran);
  EXPECT_EQ(handOver.Call([&] { ran = true; }), GuiHandOver::Outcome::Cancelled);
  EXPECT_FALSE(ran);
}

TEST(GuiHandOverTest, CancelFromAnotherThreadWaitsForARunningCall) {
  QObject context;
  GuiHandOver handOver(&context);
  std::atomic<bool> cancelled{false}, cancelledWhileRunning{false}, done{false};
  std::thread canceller;
  std::thread worker([&] {
    handOver.Call([&] {
      // Running on the GUI thread: a Cancel from elsewhere must wait.
      canceller = std::thread([&] {
        handOver.Cancel();
        cancelled = true;
      });
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      cancelledWhileRunning = cancelled.load();
    });
    done = true;
  });
  ASSERT_TRUE(SpinUntil([&] { return done.load(); }));
  worker.join();
  canceller.join();
  EXPECT_FALSE(cancelledWhileRunning);
  EXPECT_TRUE(cancelled);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
