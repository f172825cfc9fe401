// The FTDI port against our stand-in driver library, which the library
// loads by its path while the test drives the same devices.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "../common/Pty.h"
#include "YvPort.h"
#include "YvSeams.h"
#include "fake_ftd2xx.h"
#include "ylvane.h"

namespace {

constexpr const char* kMissingLibrary = "/nonexistent/libftd2xx.so";
constexpr HRESULT kCountTouched = 0x7777;

class FtPort : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeFt_ResetDevices(0, 0);
    FakeFt_AddDevice(0, 5, "FT01", "Reader");
    FakeFt_AddDevice(0, 5, "FT02", "Reader");
    ylvane::SetFtLibraryPath(FAKE_FTD2XX_PATH);
    ASSERT_EQ(YV_Initialize(0), S_OK);
  }
  void TearDown() override {
    if (port_) YV_CloseHandle(port_);
    YV_Finalyze();
    ylvane::SetFtLibraryPath("libftd2xx.so");
    FakeFt_ResetDevices(0, 0);
  }
  HRESULT Open(const char16_t* serial, uint32_t baud = 9600, char evChar = 10, uint8_t stop = 2) {
    return YV_Open(&port_, serial, YV_PORT_FT, baud, evChar, stop);
  }
  void Close() {
    if (port_) YV_CloseHandle(port_);
    port_ = nullptr;
  }
  static FakeFtSettings Device(const char* serial = "FT01") {
    FakeFtSettings s{};
    EXPECT_EQ(FakeFt_GetSettings(serial, &s), 0);
    return s;
  }
  static void Feed(const std::string& bytes, const char* serial = "FT01") {
    ASSERT_EQ(FakeFt_Feed(serial, bytes.data(), static_cast<uint32_t>(bytes.size())), 0);
  }
  int Arm() {
    int ev = -1;
    EXPECT_EQ(YV_StartWaitEvent(port_, &ev), S_OK);
    return ev;
  }
  std::string ReadPending() {
    int32_t n = 0;
    EXPECT_EQ(YV_GetInCount(port_, &n), S_OK);
    std::string got(static_cast<size_t>(n), '\0');
    int32_t read = -1;
    if (n > 0) {
      EXPECT_EQ(YV_Read(port_, got.data(), n, &read), S_OK);
      got.resize(read > 0 ? static_cast<size_t>(read) : 0);
    }
    return got;
  }

  YV_HANDLE port_ = nullptr;
};

TEST_F(FtPort, OpenConfiguresTheDeviceAsGiven) {
  ASSERT_EQ(Open(u"FT01", 9600, 10, 2), S_OK);
  ASSERT_NE(port_, nullptr);
  FakeFtSettings s = Device();
  EXPECT_EQ(s.opened, 1);
  EXPECT_EQ(s.openFlags, 1u);  // by serial number
  EXPECT_EQ(s.baud, 9600u);
  EXPECT_EQ(s.wordLength, 8);
  EXPECT_EQ(s.stopBits, 2);
  EXPECT_EQ(s.parity, 0);
  EXPECT_EQ(s.flow, 0);
  EXPECT_EQ(s.evChar, 10);
  EXPECT_EQ(s.evEnabled, 1);
  EXPECT_EQ(s.errEnabled, 0);
  EXPECT_EQ(s.readTimeout, 5000u);
  EXPECT_EQ(s.writeTimeout, 1000u);
  EXPECT_EQ(s.purged, 3u);
  EXPECT_EQ(s.eventMask, 1u);
  EXPECT_EQ(s.hasEventRecord, 1);
  EXPECT_EQ(Device("FT02").opened, 0);

  uint32_t baud = 0;
  char ev = 0;
  EXPECT_EQ(YV_GetBaudAndEvChar(port_, &baud, &ev), S_OK);
  EXPECT_EQ(baud, 9600u);
  EXPECT_EQ(ev, 10);
  Close();
  EXPECT_EQ(Device().opened, 0);
}

TEST_F(FtPort, ZeroRateAndEventCharacterLeaveTheDevicesOwn) {
  ASSERT_EQ(Open(u"FT01", 0, 0, 0), S_OK);
  FakeFtSettings s = Device();
  EXPECT_EQ(s.baudCalls, 0u);
  EXPECT_EQ(s.baud, 19200u);  // the device's own rate
  EXPECT_EQ(s.charsCalls, 0u);
  EXPECT_EQ(s.stopBits, 0);
  // What was given is reported, not what the device has.
  uint32_t baud = 1;
  char ev = 1;
  EXPECT_EQ(YV_GetBaudAndEvChar(port_, &baud, &ev), S_OK);
  EXPECT_EQ(baud, 0u);
  EXPECT_EQ(ev, 0);
  EXPECT_EQ(YV_GetBaudAndEvChar(port_, nullptr, nullptr), S_OK);
}

TEST_F(FtPort, OpenFailuresLeaveNothingOpen) {
  FakeFt_AddDevice(1, 5, "ELSE", "Reader");  // opened by another program
  struct Case {
    const char* what;
    const char16_t* serial;
    const char* failing;  // a driver function that answers an error
    uint32_t status;
    HRESULT expected;
  };
  const char16_t lone[] = {u'F', 0xD800, 0};
  const Case cases[] = {
      {"not connected", u"NOPE", nullptr, 0, YV_E_PORT_NOT_EXISTS},
      {"opened elsewhere", u"ELSE", nullptr, 0, YV_E_PORT_BUSY},
      {"empty serial", u"", nullptr, 0, YV_E_PORT_NOT_EXISTS},
      {"32 bytes", u"0123456789ABCDEF0123456789ABCDEF", nullptr, 0, YV_E_PORT_NOT_EXISTS},
      {"lone surrogate", lone, nullptr, 0, YV_E_PORT_NOT_EXISTS},
      {"driver refuses the open", u"FT01", "FT_OpenEx", 4, YV_E_PORT_OPEN},
      {"driver says not found", u"FT01", "FT_OpenEx", 2, YV_E_PORT_NOT_EXISTS},
      {"rate refused", u"FT01", "FT_SetBaudRate", 4, YV_E_PORT_SETUP},
      {"data bits refused", u"FT01", "FT_SetDataCharacteristics", 4, YV_E_PORT_SETUP},
      {"flow control refused", u"FT01", "FT_SetFlowControl", 4, YV_E_PORT_SETUP},
      {"event character refused", u"FT01", "FT_SetChars", 4, YV_E_PORT_SETUP},
      {"time-outs refused", u"FT01", "FT_SetTimeouts", 4, YV_E_PORT_SETUP},
      // Not looked at during the open.
      {"purge fails", u"FT01", "FT_Purge", 4, S_OK},
      {"notification fails", u"FT01", "FT_SetEventNotification", 4, S_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.failing) {
      ASSERT_EQ(FakeFt_SetFailure(c.failing, c.status), 0);
    }
    port_ = reinterpret_cast<YV_HANDLE>(0x55);
    EXPECT_EQ(Open(c.serial), c.expected);
    if (c.expected == S_OK) {
      EXPECT_NE(port_, nullptr);
      Close();
    } else {
      EXPECT_EQ(port_, nullptr);
    }
    EXPECT_EQ(Device().opened, 0);
    if (c.failing) FakeFt_SetFailure(c.failing, 0);
  }
  // The device is not held by a failed open: it opens now.
  EXPECT_EQ(Open(u"FT01"), S_OK);
  // And a second port on the same device finds it busy.
  YV_HANDLE second = reinterpret_cast<YV_HANDLE>(0x55);
  EXPECT_EQ(YV_Open(&second, u"FT01", YV_PORT_FT, 9600, 10, 2), YV_E_PORT_BUSY);
  EXPECT_EQ(second, nullptr);
}

TEST_F(FtPort, TheDriverLibraryIsLoadedWhileAPortIsOpen) {
  // Missing, or without the functions a port needs.
  for (const char* path : {kMissingLibrary, "libm.so.6"}) {
    ylvane::SetFtLibraryPath(path);
    port_ = reinterpret_cast<YV_HANDLE>(0x55);
    EXPECT_EQ(Open(u"FT01"), YV_E_FTD2XX_LOAD) << path;
    EXPECT_EQ(port_, nullptr);
  }
  ylvane::SetFtLibraryPath(FAKE_FTD2XX_PATH);
  // A failed open leaves the library as it found it: unloaded.
  EXPECT_EQ(Open(u"NOPE"), YV_E_PORT_NOT_EXISTS);
  ylvane::SetFtLibraryPath(kMissingLibrary);
  EXPECT_EQ(Open(u"FT01"), YV_E_FTD2XX_LOAD);

  // Two ports open, one closed: still loaded, so a third open needs no load.
  ylvane::SetFtLibraryPath(FAKE_FTD2XX_PATH);
  YV_HANDLE a = nullptr, b = nullptr;
  ASSERT_EQ(YV_Open(&a, u"FT01", YV_PORT_FT, 9600, 10, 2), S_OK);
  ASSERT_EQ(YV_Open(&b, u"FT02", YV_PORT_FT, 9600, 10, 2), S_OK);
  ylvane::SetFtLibraryPath(kMissingLibrary);
  EXPECT_EQ(YV_CloseHandle(a), S_OK);
  ASSERT_EQ(Open(u"FT01"), S_OK);
  Close();
  EXPECT_EQ(YV_CloseHandle(b), S_OK);
  // Both closed: freed, and the next open must load it again.
  EXPECT_EQ(Open(u"FT01"), YV_E_FTD2XX_LOAD);
  ylvane::SetFtLibraryPath(FAKE_FTD2XX_PATH);
  EXPECT_EQ(Open(u"FT01"), S_OK);
}

TEST_F(FtPort, BytesGoBothWays) {
  ASSERT_EQ(Open(u"FT01"), S_OK);
  int32_t n = -1;
  EXPECT_EQ(YV_GetInCount(port_, &n), S_OK);
  EXPECT_EQ(n, 0);
  Feed("Em-Marine[0A1B2C3D4E]\r\n");
  EXPECT_EQ(ReadPending(), "Em-Marine[0A1B2C3D4E]\r\n");
  EXPECT_EQ(YV_Write(port_, "\x02OK\x03", 4), S_OK);
  char out[16];
  EXPECT_EQ(FakeFt_TakeWritten("FT01", out, sizeof out), 4u);
  EXPECT_EQ(std::string(out, 4), "\x02OK\x03");

  // Clear discards what waits, in the directions asked for.
  const uint32_t purgesAtOpen = Device().purgeCalls;
  Feed("stale");
  EXPECT_EQ(YV_Clear(port_, 0, 0), S_OK);
  EXPECT_EQ(Device().purgeCalls, purgesAtOpen);
  EXPECT_EQ(YV_Clear(port_, 0, 1), S_OK);
  EXPECT_EQ(YV_GetInCount(port_, &n), S_OK);
  EXPECT_EQ(n, 5);
  EXPECT_EQ(YV_Clear(port_, 1, 0), S_OK);
  EXPECT_EQ(YV_GetInCount(port_, &n), S_OK);
  EXPECT_EQ(n, 0);

  // A read of more than has arrived returns what came when the driver's
  // read time-out passes (shortened here).
  FakeFt_SetReadWaitCap(50);
  Feed("abc");
  char buf[10];
  int32_t got = -1;
  EXPECT_EQ(YV_Read(port_, buf, sizeof buf, &got), S_OK);
  EXPECT_EQ(std::string(buf, got > 0 ? got : 0), "abc");
}

TEST_F(FtPort, AShortWriteIsNoSuccess) {
  ASSERT_EQ(Open(u"FT01"), S_OK);
  // The driver gave up at its write time-out with half of it sent.
  ASSERT_EQ(FakeFt_SetWriteLimit("FT01", 2), 0);
  EXPECT_EQ(YV_Write(port_, "ABCD", 4), YV_E_COMM);
  char out[8];
  EXPECT_EQ(FakeFt_TakeWritten("FT01", out, sizeof out), 2u);
  FakeFt_SetWriteLimit("FT01", -1);
  EXPECT_EQ(YV_Write(port_, "ABCD", 4), S_OK);
}

TEST_F(FtPort, TheReceiveEventSignalsArrivals) {
  ASSERT_EQ(Open(u"FT01"), S_OK);
  int ev = Arm();
  ASSERT_GT(ev, 0);
  EXPECT_FALSE(Signalled(ev, 0));
  // Any character signals, whatever the event character.
  Feed("A");
  EXPECT_TRUE(Signalled(ev, 2000));
  EXPECT_EQ(ReadPending(), "A");
  EXPECT_EQ(Arm(), ev);  // the same event, for the port's life
  EXPECT_FALSE(Signalled(ev, 0));
  // Bytes that came between the read and the re-arm are not slept on.
  Feed("B");
  ASSERT_TRUE(Signalled(ev, 2000));
  Arm();
  EXPECT_TRUE(Signalled(ev, 0));
  EXPECT_EQ(ReadPending(), "B");
}

TEST_F(FtPort, AReaderThreadGetsEveryByteInOrder) {
  ASSERT_EQ(Open(u"FT01"), S_OK);
  constexpr int kLines = 200;
  std::string expected;
  for (int i = 0; i < kLines; ++i) expected += "Mifare[" + std::to_string(i) + "]\r\n";
  std::string got;
  std::atomic<bool> stalled{false};
  // A host that waits, reads what is there, and arms again.
  std::thread host([&] {
    const int ev = Arm();
    while (got.size() < expected.size()) {
      if (!Signalled(ev, 5000)) {
        stalled = true;
        return;
      }
      got += ReadPending();
      Arm();
    }
  });
  for (int i = 0; i < kLines; ++i) {
    Feed("Mifare[" + std::to_string(i) + "]\r\n");
    if (i % 16 == 0) std::this_thread::yield();
  }
  host.join();
  EXPECT_FALSE(stalled);
  EXPECT_EQ(got, expected);
}

// The driver writes the whole of its event record when it signals, the int
// after the mutex too, and a handle whose close it refused goes on being
// signalled: the record has the driver's full shape and lives as long as
// the driver is loaded, not just as long as its port. (A record cut short,
// or freed with its port, shows in the sanitizer build as a write past its
// end or after its free.)
TEST_F(FtPort, TheDriverMaySignalAnEventRecordWhileItIsLoaded) {
  YV_HANDLE keep = nullptr;  // keeps the driver loaded
  ASSERT_EQ(YV_Open(&keep, u"FT02", YV_PORT_FT, 9600, 10, 2), S_OK);
  ASSERT_EQ(Open(u"FT01"), S_OK);
  int ev = Arm();
  Feed("A\n");
  EXPECT_TRUE(Signalled(ev, 2000));
  EXPECT_EQ(ReadPending(), "A\n");

  ASSERT_EQ(FakeFt_SetFailure("FT_Close", 4), 0);
  Close();  // refused: the driver keeps FT01 open with the closed port's record
  ASSERT_EQ(FakeFt_SetFailure("FT_Close", 0), 0);
  Feed("B\n");

  // The port still open works as ever.
  int kept = -1;
  ASSERT_EQ(YV_StartWaitEvent(keep, &kept), S_OK);
  Feed("C\n", "FT02");
  EXPECT_TRUE(Signalled(kept, 2000));
  int32_t n = 0;
  EXPECT_EQ(YV_GetInCount(keep, &n), S_OK);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(YV_CloseHandle(keep), S_OK);
}

// The library lets go of the driver with its last port, but the driver need
// not go: this test links it (as a host may), and a listing or a version
// query on another thread holds it loaded for a while. A device whose close
// the driver refused then still signals the record it was given.
TEST_F(FtPort, ARecordStaysValidAfterTheLastPortLetsGoOfTheDriver) {
  ASSERT_EQ(Open(u"FT01"), S_OK);
  ASSERT_EQ(FakeFt_SetFailure("FT_Close", 4), 0);
  Close();  // refused: FT01 keeps the record, and the port was the last one
  ASSERT_EQ(FakeFt_SetFailure("FT_Close", 0), 0);
  Feed("B\n");  // the driver signals the record

  // The next ports work as ever, the stranded device's late signals aside.
  ASSERT_EQ(Open(u"FT02"), S_OK);
  int ev = Arm();
  Feed("C\n", "FT02");
  EXPECT_TRUE(Signalled(ev, 2000));
  EXPECT_EQ(ReadPending(), "C\n");
  Feed("D\n");
  Close();
  Feed("E\n");
}

TEST_F(FtPort, ClosingWakesAPendingWait) {
  // The port's own Close: the port object stays, its device closes.
  ylvane::IYvPort* port = nullptr;
  ASSERT_EQ(ylvane::CreatePort(u"FT01", &port, YV_PORT_FT, 9600, 10, 2), S_OK);
  int ev = -1;
  ASSERT_EQ(port->StartWaitEvent(&ev), S_OK);
  ASSERT_FALSE(Signalled(ev, 0));
  std::atomic<bool> woke{false};
  std::thread waiter([&] { woke = Signalled(ev, -1); });
  port->Close();
  waiter.join();
  EXPECT_TRUE(woke);
  EXPECT_FALSE(port->IsOpened());
  EXPECT_EQ(Device().opened, 0);
  int32_t n = 0;
  EXPECT_EQ(port->GetInCount(&n), YV_E_COMM);
  port->Release();

  // The host's last release: the waiter holds its own copy of the
  // descriptor, since the port's own goes with the port.
  ASSERT_EQ(Open(u"FT01"), S_OK);
  const int copy = dup(Arm());
  ASSERT_GE(copy, 0);
  woke = false;
  std::thread host([&] { woke = Signalled(copy, -1); });
  Close();
  host.join();
  EXPECT_TRUE(woke);
  close(copy);
  EXPECT_EQ(Device().opened, 0);
}

TEST_F(FtPort, DriverFailuresAreMapped) {
  struct Op {
    const char* function;
    const char* what;
    HRESULT (*call)(YV_HANDLE);
  };
  const Op ops[] = {
      {"FT_Read", "read",
       [](YV_HANDLE p) {
         char b[4];
         int32_t n = 77;
         HRESULT hr = YV_Read(p, b, 4, &n);
         return hr != S_OK && n != 77 ? kCountTouched : hr;  // untouched on failure
       }},
      {"FT_Write", "write", [](YV_HANDLE p) { return YV_Write(p, "x", 1); }},
      {"FT_GetStatus", "in-count",
       [](YV_HANDLE p) {
         int32_t n;
         return YV_GetInCount(p, &n);
       }},
      {"FT_Purge", "clear", [](YV_HANDLE p) { return YV_Clear(p, 1, 1); }},
      {"FT_SetEventNotification", "arm",
       [](YV_HANDLE p) {
         int ev;
         return YV_StartWaitEvent(p, &ev);
       }},
      {"FT_SetDtr", "DTR on", [](YV_HANDLE p) { return YV_SetDtr(p, 1); }},
      {"FT_ClrDtr", "DTR off", [](YV_HANDLE p) { return YV_SetDtr(p, 0); }},
      {"FT_SetRts", "RTS on", [](YV_HANDLE p) { return YV_SetRts(p, 1); }},
      {"FT_ClrRts", "RTS off", [](YV_HANDLE p) { return YV_SetRts(p, 0); }},
  };
  struct Mapping {
    uint32_t status;
    HRESULT expected;
  };
  const Mapping mappings[] = {
      {4, YV_E_COMM},              // I/O error, the device still listed
      {5, E_OUTOFMEMORY},          // insufficient resources
      {1, E_FAIL},                 // any other status
      {2, YV_E_CLOSED_OUTSIDE},    // device not found: it went away
  };
  FakeFt_SetReadWaitCap(0);  // the read that works again finds nothing
  for (const Op& op : ops) {
    for (const Mapping& m : mappings) {
      SCOPED_TRACE(std::string(op.what) + " status " + std::to_string(m.status));
      ASSERT_EQ(Open(u"FT01"), S_OK);
      ASSERT_EQ(FakeFt_SetFailure(op.function, m.status), 0);
      EXPECT_EQ(op.call(port_), m.expected);
      FakeFt_SetFailure(op.function, 0);
      // A failure that is not the device's going leaves the port usable.
      EXPECT_EQ(op.call(port_), m.expected == YV_E_CLOSED_OUTSIDE ? YV_E_CLOSED_OUTSIDE : S_OK);
      Close();
    }
  }
}

TEST_F(FtPort, LineControlReachesTheDevice) {
  ASSERT_EQ(Open(u"FT01"), S_OK);
  EXPECT_EQ(YV_SetDtr(port_, 1), S_OK);
  EXPECT_EQ(YV_SetRts(port_, 0), S_OK);
  EXPECT_EQ(Device().dtr, 1);
  EXPECT_EQ(Device().rts, 0);
  EXPECT_EQ(YV_SetDtr(port_, 0), S_OK);
  EXPECT_EQ(YV_SetRts(port_, 1), S_OK);
  EXPECT_EQ(Device().dtr, 0);
  EXPECT_EQ(Device().rts, 1);
}

TEST_F(FtPort, RateAndEventCharacterChangeOnAnOpenPort) {
  ASSERT_EQ(Open(u"FT01"), S_OK);
  EXPECT_EQ(YV_SetBaudAndEvChar(port_, 19200, 13), S_OK);
  FakeFtSettings s = Device();
  EXPECT_EQ(s.baud, 19200u);
  EXPECT_EQ(s.evChar, 13);
  EXPECT_EQ(s.evEnabled, 1);
  EXPECT_EQ(YV_SetBaudAndEvChar(port_, 9600, 0), S_OK);
  EXPECT_EQ(Device().evEnabled, 0);

  // Refused by the driver: a configuration error, the port stays open.
  EXPECT_EQ(YV_SetBaudAndEvChar(port_, 0, 10), YV_E_PORT_SETUP);  // no such rate
  ASSERT_EQ(FakeFt_SetFailure("FT_SetChars", 4), 0);
  EXPECT_EQ(YV_SetBaudAndEvChar(port_, 4800, 10), YV_E_PORT_SETUP);
  FakeFt_SetFailure("FT_SetChars", 0);
  uint32_t baud = 0;
  char ev = 1;
  EXPECT_EQ(YV_GetBaudAndEvChar(port_, &baud, &ev), S_OK);
  EXPECT_EQ(baud, 4800u);  // the rate took; the character did not
  EXPECT_EQ(ev, 0);
  EXPECT_EQ(Device().opened, 1);
  EXPECT_EQ(YV_Write(port_, "x", 1), S_OK);
}

TEST_F(FtPort, DriverVersion) {
  ASSERT_EQ(Open(u"FT01"), S_OK);
  FakeFt_SetDriverVersion(0x00020C06, 0);  // 2.12.6, major in byte 2
  uint32_t v = 0;
  EXPECT_EQ(YV_GetFtDriverVersion(port_, &v), S_OK);
  EXPECT_EQ(v, 0x00060C02u);
  FakeFt_SetDriverVersion(0x00020C06, 4);
  v = 7;
  EXPECT_EQ(YV_GetFtDriverVersion(port_, &v), E_FAIL);
  EXPECT_EQ(v, 7u);
  EXPECT_EQ(YV_GetFtDriverVersion(port_, nullptr), E_INVALIDARG);
}

TEST_F(FtPort, UnpluggingWhileAWaitIsPending) {
  // Whatever the driver answers once the device is gone.
  for (uint32_t status : {4u, 2u, 1u}) {
    SCOPED_TRACE(status);
    ASSERT_EQ(Open(u"FT01"), S_OK);
    const int ev = Arm();
    std::atomic<bool> woke{false};
    std::thread waiter([&] { woke = Signalled(ev, 10000); });
    ASSERT_EQ(FakeFt_Unplug("FT01", status, 1), 0);
    waiter.join();
    ASSERT_TRUE(woke);
    int32_t n = 0;
    EXPECT_EQ(YV_GetInCount(port_, &n), YV_E_CLOSED_OUTSIDE);
    // From then on every call says so without a driver call, and the event
    // stays signalled so that no host sleeps on a dead port.
    char b[4];
    int32_t got = 77;
    EXPECT_EQ(YV_Read(port_, b, 4, &got), YV_E_CLOSED_OUTSIDE);
    EXPECT_EQ(got, 77);
    EXPECT_EQ(YV_Write(port_, "x", 1), YV_E_CLOSED_OUTSIDE);
    int again = -1;
    EXPECT_EQ(YV_StartWaitEvent(port_, &again), YV_E_CLOSED_OUTSIDE);
    EXPECT_TRUE(Signalled(ev, 0));
    Close();
    FakeFt_ResetDevices(0, 0);
    FakeFt_AddDevice(0, 5, "FT01", "Reader");
  }
}

TEST_F(FtPort, AnUnplugTheDriverDoesNotSignalIsFoundAtTheReArm) {
  ASSERT_EQ(Open(u"FT01"), S_OK);
  const int ev = Arm();
  ASSERT_EQ(FakeFt_Unplug("FT01", 4, 0), 0);
  int again = -1;
  EXPECT_EQ(YV_StartWaitEvent(port_, &again), YV_E_CLOSED_OUTSIDE);
  EXPECT_TRUE(Signalled(ev, 0));
}

}  // namespace
