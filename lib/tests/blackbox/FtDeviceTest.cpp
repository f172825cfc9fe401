// An FTDI reader through the installed C interface, with our stand-in
// driver library found by its name the way the real one would be.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "../common/Pty.h"
#include "fake_ftd2xx.h"
#include "ylvane.h"

namespace {

class FtDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    // The same library the port library loads by name; held open here so
    // its devices outlive the port library's loads and unloads.
    fake_ = dlopen("libftd2xx.so", RTLD_NOW);
    ASSERT_NE(fake_, nullptr) << dlerror();
    ASSERT_TRUE(Bind("FakeFt_ResetDevices", reset_) && Bind("FakeFt_AddDevice", add_) &&
                Bind("FakeFt_Feed", feed_) && Bind("FakeFt_TakeWritten", written_) &&
                Bind("FakeFt_Unplug", unplug_));
    reset_(0, 0);
    add_(0, 5, "RDR0042", "Card reader");
    ASSERT_EQ(YV_Initialize(0), S_OK);
  }
  void TearDown() override {
    YV_Finalyze();
    if (reset_) reset_(0, 0);
    if (fake_) dlclose(fake_);
  }
  template <class Fn>
  bool Bind(const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(dlsym(fake_, name));
    return fn != nullptr;
  }

  void* fake_ = nullptr;
  decltype(&FakeFt_ResetDevices) reset_ = nullptr;
  decltype(&FakeFt_AddDevice) add_ = nullptr;
  decltype(&FakeFt_Feed) feed_ = nullptr;
  decltype(&FakeFt_TakeWritten) written_ = nullptr;
  decltype(&FakeFt_Unplug) unplug_ = nullptr;
};

TEST_F(FtDevice, ReaderLinesUntilTheReaderIsPulledOut) {
  YV_HANDLE port = nullptr;
  ASSERT_EQ(YV_Open(&port, u"RDR0042", YV_PORT_FT, 9600, 10, 2), S_OK);
  ASSERT_NE(port, nullptr);
  YV_HANDLE second = nullptr;
  EXPECT_EQ(YV_Open(&second, u"RDR0042", YV_PORT_FT, 9600, 10, 2), YV_E_PORT_BUSY);
  EXPECT_EQ(YV_Open(&second, u"RDR0043", YV_PORT_FT, 9600, 10, 2), YV_E_PORT_NOT_EXISTS);

  int ev = -1;
  ASSERT_EQ(YV_StartWaitEvent(port, &ev), S_OK);
  const std::string line = "Mifare[04A1B2C3D4E5F6]\r\n";
  ASSERT_EQ(feed_("RDR0042", line.data(), static_cast<uint32_t>(line.size())), 0);
  ASSERT_TRUE(Signalled(ev, 2000));
  int32_t count = 0;
  ASSERT_EQ(YV_GetInCount(port, &count), S_OK);
  std::string got(static_cast<size_t>(count), '\0');
  int32_t read = 0;
  ASSERT_EQ(YV_Read(port, got.data(), count, &read), S_OK);
  EXPECT_EQ(got.substr(0, static_cast<size_t>(read)), line);
  EXPECT_EQ(YV_Write(port, "\x02OK\x03", 4), S_OK);
  char out[8];
  EXPECT_EQ(written_("RDR0042", out, sizeof out), 4u);
  uint32_t baud = 0;
  char evChar = 0;
  EXPECT_EQ(YV_GetBaudAndEvChar(port, &baud, &evChar), S_OK);
  EXPECT_EQ(baud, 9600u);
  EXPECT_EQ(evChar, 10);

  // Pulled out while a host thread waits for the next card.
  ASSERT_EQ(YV_StartWaitEvent(port, &ev), S_OK);
  bool woke = false;
  std::thread host([&] { woke = Signalled(ev, 10000); });
  ASSERT_EQ(unplug_("RDR0042", 4, 1), 0);
  host.join();
  EXPECT_TRUE(woke);
  EXPECT_EQ(YV_GetInCount(port, &count), YV_E_CLOSED_OUTSIDE);
  EXPECT_EQ(YV_CloseHandle(port), S_OK);
}

TEST_F(FtDevice, FinalyzeClosesAnOpenDevice) {
  YV_HANDLE port = nullptr;
  ASSERT_EQ(YV_Open(&port, u"RDR0042", YV_PORT_FT, 9600, 10, 2), S_OK);
  EXPECT_EQ(YV_Finalyze(), S_OK);
  // The device is free again: a new library object opens it.
  ASSERT_EQ(YV_Initialize(0), S_OK);
  EXPECT_EQ(YV_Open(&port, u"RDR0042", YV_PORT_FT, 9600, 10, 2), S_OK);
}

}  // namespace
