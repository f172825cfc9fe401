// The installed C interface only: what a host program sees of the library.
#include <dlfcn.h>
#include <gtest/gtest.h>

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

}  // namespace
