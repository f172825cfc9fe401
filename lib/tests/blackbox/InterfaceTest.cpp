// The installed C interface only: what a host program sees of the library.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "../common/Pty.h"
#include "ylvane.h"

namespace {

TEST(Interface, VersionLayout) {
  uint32_t v = YV_GetVersion();
  EXPECT_EQ(v, 0x00010B01u);
  EXPECT_EQ(v & 0xFF, 1u);           // major
  EXPECT_EQ((v >> 8) & 0xFF, 11u);   // minor
  EXPECT_EQ((v >> 16) & 0xFF, 1u);   // build
  EXPECT_EQ(v >> 24, 0u);
}

TEST(Interface, LibraryLevelCallsNeedInitialize) {
  YV_HANDLE h = reinterpret_cast<YV_HANDLE>(0x55);
  EXPECT_EQ(YV_Open(&h, u"ttyS0", YV_PORT_COM, 9600, 10, 2), YV_E_NOT_INITIALIZED);
  EXPECT_EQ(h, reinterpret_cast<YV_HANDLE>(0x55));
  EXPECT_EQ(YV_Finalyze(), S_OK);
  EXPECT_EQ(YV_DeviceEventNotify(0, nullptr), S_OK);
  EXPECT_EQ(YV_CloseHandle(nullptr), E_INVALIDARG);
}

TEST(Interface, FtdiLibraryAbsent) {
  if (void* real = dlopen("libftd2xx.so", RTLD_NOW)) {
    dlclose(real);
    GTEST_SKIP() << "this machine has the FTDI driver library";
  }
  uint32_t v = 0x11111111;
  EXPECT_EQ(YV_GetFtLibVersion(&v), YV_E_FTD2XX_LOAD);
  EXPECT_EQ(v, 0x11111111u);
  ASSERT_EQ(YV_Initialize(0), S_OK);
  YV_HANDLE port = reinterpret_cast<YV_HANDLE>(0x55);
  EXPECT_EQ(YV_Open(&port, u"FT123456", YV_PORT_FT, 9600, 10, 2), YV_E_FTD2XX_LOAD);
  EXPECT_EQ(port, nullptr);
  EXPECT_EQ(YV_Finalyze(), S_OK);
}

TEST(Interface, ReaderLineRoundTripOnAPty) {
  TestPty pty;
  ASSERT_TRUE(pty.Ok());
  ASSERT_EQ(YV_Initialize(YV_INIT_DEBUG), S_OK);
  YV_HANDLE port = nullptr;
  ASSERT_EQ(YV_Open(&port, pty.Name(), YV_PORT_COM, 9600, 10, 2), S_OK);
  ASSERT_NE(port, nullptr);
  int ev = -1;
  ASSERT_EQ(YV_StartWaitEvent(port, &ev), S_OK);
  ASSERT_TRUE(pty.Send("Em-Marine[0A1B2C3D4E]\r\n"));
  ASSERT_TRUE(Signalled(ev, 2000));
  int32_t count = 0;
  ASSERT_EQ(YV_GetInCount(port, &count), S_OK);
  std::string line(count, '\0');
  int32_t got = 0;
  ASSERT_EQ(YV_Read(port, line.data(), count, &got), S_OK);
  EXPECT_EQ(got, count);
  EXPECT_EQ(line, "Em-Marine[0A1B2C3D4E]\r\n");
  EXPECT_EQ(YV_Write(port, "\x02OK\x03", 4), S_OK);
  EXPECT_EQ(pty.Receive(4), "\x02OK\x03");
  // The last YV_Finalyze closes what the host left open.
  EXPECT_EQ(YV_Finalyze(), S_OK);
  EXPECT_TRUE(pty.SlaveClosed());
}

// A host that forwards device events itself and drains its notifier on its
// own thread, as a service without a message loop would.
TEST(Interface, ForwardedDeviceEventsReachAHostDrainedNotifier) {
  ASSERT_EQ(YV_Initialize(YV_INIT_NOWINDOW), S_OK);
  static const uint16_t pids[] = {0x0000, 0x1234, 0x1235, 0x1237, 0xFFFF};
  YV_SERIAL_DEVICE_TYPE type{};
  type.Pids = pids;
  type.PidCount = 5;
  ASSERT_EQ(YV_RegSerialDevice(&type), S_OK);

  struct Got {
    int calls = 0;
    uint32_t kind = 0;
    YV_EXIST_NMSG msg{};
  } got;
  YV_NOTIFY_SETTINGS s{};
  s.Flags = YV_NF_EXIST | YV_NF_WNDSYNC;
  s.Callback = [](uint32_t kind, const void* payload, void* user) YV_CALL -> YV_BOOL {
    auto* g = static_cast<Got*>(user);
    ++g->calls;
    g->kind = kind;
    std::memcpy(&g->msg, payload, sizeof g->msg);
    return 1;
  };
  s.UserData = &got;
  s.SerialTypeMask = 1;
  s.Recipient = &got;  // any non-NULL value: this host forwards the events
  YV_HANDLE notifier = nullptr;
  ASSERT_EQ(YV_FindNotification(&notifier, &s), S_OK);

  YV_DEVICE_EVENT ev{};
  ev.Size = sizeof ev;
  ev.VendorId = 0x0403;
  ev.ProductId = 0x1237;
  ev.Serial = u"FTX1";
  ev.TtyName = u"ttyUSB4";
  EXPECT_EQ(YV_DeviceEventNotify(YV_DEVICE_ARRIVAL, &ev), S_OK);
  ASSERT_EQ(YV_ProcessMessages(notifier, s.Callback, &got), S_OK);
  ASSERT_EQ(got.calls, 1);
  EXPECT_EQ(got.kind, YV_NMSG_ARRIVAL);
  EXPECT_EQ(got.msg.Info.PortType, YV_PORT_FT);
  EXPECT_EQ(std::u16string(got.msg.Info.Name), u"FTX1");
  EXPECT_EQ(std::u16string(got.msg.Info.PortName), u"ttyUSB4");
  EXPECT_EQ(got.msg.Info.Busy, 0);

  // A notifier is no port, and a port no notifier.
  char buf[4];
  int32_t n;
  EXPECT_EQ(YV_Read(notifier, buf, 4, &n), E_INVALIDARG);
  TestPty pty;
  ASSERT_TRUE(pty.Ok());
  YV_HANDLE port = nullptr;
  ASSERT_EQ(YV_Open(&port, pty.Name(), YV_PORT_COM, 9600, 10, 2), S_OK);
  EXPECT_EQ(YV_ProcessMessages(port, s.Callback, &got), E_INVALIDARG);
  // YV_Finalyze releases both.
  EXPECT_EQ(YV_Finalyze(), S_OK);
  EXPECT_TRUE(pty.SlaveClosed());
}

}  // namespace
