// The library object: counted life, teardown of what the host left open,
// the device-type tables.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <latch>
#include <thread>
#include <vector>

#include "YvLib.h"
#include "YvPortEnum.h"
#include "ylvane.h"

using ylvane::CYvLib;
using ylvane::LibRef;

namespace {

// A listed object that records the order in which it is released.
class Recorder final : public ylvane::IUnknown {
 public:
  Recorder(int id, std::vector<int>& log) : id_(id), log_(log) {}
  HRESULT QueryInterface(const ylvane::YvIid&, void**) override { return E_NOINTERFACE; }
  uint32_t AddRef() override { return ++ref_; }
  uint32_t Release() override {
    log_.push_back(id_);
    return --ref_;
  }
  uint32_t ref_ = 1;

 private:
  int id_;
  std::vector<int>& log_;
};

TEST(LibraryObject, NestedInitializeKeepsTheObjectUntilTheLastFinalyze) {
  ASSERT_EQ(YV_Initialize(0), S_OK);
  ASSERT_EQ(YV_Initialize(YV_INIT_NOWINDOW), S_OK);
  CYvLib* first = CYvLib::Acquire();
  ASSERT_NE(first, nullptr);
  first->Release();
  // The flags of the first call stay in force.
  EXPECT_EQ(first->Flags(), 0u);
  EXPECT_EQ(YV_Finalyze(), S_OK);
  {
    LibRef lib;
    ASSERT_TRUE(lib);
    EXPECT_EQ(lib.get(), first);
  }
  EXPECT_EQ(YV_RegSerialDevice(nullptr), E_INVALIDARG);  // still usable
  EXPECT_EQ(YV_Finalyze(), S_OK);
  EXPECT_EQ(CYvLib::Acquire(), nullptr);
  EXPECT_EQ(YV_RegSerialDevice(nullptr), YV_E_NOT_INITIALIZED);
  EXPECT_EQ(YV_Finalyze(), S_OK);  // nothing left to drop
}

TEST(LibraryObject, TeardownReleasesOpenObjectsNewestFirst) {
  std::vector<int> log;
  Recorder a(1, log), b(2, log), c(3, log);
  ASSERT_EQ(YV_Initialize(0), S_OK);
  {
    LibRef lib;
    lib->AddObject(&a);
    lib->AddObject(&b);
    lib->AddObject(&c);
    lib->RemoveObject(&b);  // closed by the host earlier
    lib->RemoveObject(&b);  // an absent entry is ignored
  }
  YV_Finalyze();
  EXPECT_EQ(log, (std::vector<int>{3, 1}));
  EXPECT_EQ(a.ref_, 0u);
  EXPECT_EQ(b.ref_, 1u);
  EXPECT_EQ(c.ref_, 0u);
}

TEST(LibraryObject, ConcurrentFirstInitializeMakesOneObject) {
  constexpr int kThreads = 8;
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  std::vector<HRESULT> results(kThreads, E_FAIL);
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      results[i] = YV_Initialize(0);
    });
  for (auto& t : threads) t.join();
  for (HRESULT hr : results) EXPECT_EQ(hr, S_OK);
  CYvLib* lib = CYvLib::Acquire();
  ASSERT_NE(lib, nullptr);
  // Eight counted references and ours.
  EXPECT_EQ(lib->AddRef(), kThreads + 2u);
  lib->Release();
  lib->Release();
  for (int i = 0; i < kThreads - 1; ++i) YV_Finalyze();
  lib = CYvLib::Acquire();
  EXPECT_NE(lib, nullptr);
  if (lib) lib->Release();
  YV_Finalyze();
  EXPECT_EQ(CYvLib::Acquire(), nullptr);
}

// A call holds the object for its length (a host callback runs inside it):
// YV_Finalyze calls beyond the host's own YV_Initialize calls take nothing
// of what that call holds, and the object goes once it has returned.
TEST(LibraryObject, ExtraFinalyzeLeavesARunningCallItsObject) {
  ASSERT_EQ(YV_Initialize(0), S_OK);
  {
    LibRef call;
    ASSERT_TRUE(call);
    EXPECT_EQ(YV_Finalyze(), S_OK);
    EXPECT_EQ(YV_Finalyze(), S_OK);
    EXPECT_TRUE(call->Finalized());
    EXPECT_EQ(call->Flags(), 0u);  // still there, and its lock too
    ylvane::CCritLock lock(call->Lock());
  }
  EXPECT_EQ(CYvLib::Acquire(), nullptr);
}

// Runs in a child process: with no descriptor left for a socket the
// start-up check must fail and leave no object; the next call starts afresh.
int InitializeWithoutDescriptors() {
  // One full life first: the sanitizer runtime checks an object's type once
  // per type and needs descriptors of its own for that.
  if (YV_Initialize(0) != S_OK) return 2;
  YV_Finalyze();
  rlimit old{};
  getrlimit(RLIMIT_NOFILE, &old);
  rlimit none{};
  none.rlim_max = old.rlim_max;
  setrlimit(RLIMIT_NOFILE, &none);
  HRESULT first = YV_Initialize(0);
  bool noObject = CYvLib::Acquire() == nullptr;
  setrlimit(RLIMIT_NOFILE, &old);
  HRESULT second = YV_Initialize(0);
  YV_Finalyze();
  return first == YV_E_SOCKET && noObject && second == S_OK ? 0 : 1;
}

TEST(LibraryObjectDeathTest, FailedSocketStartUpLeavesNoObject) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(_exit(InitializeWithoutDescriptors()), ::testing::ExitedWithCode(0), "");
}

YV_BOOL YV_CALL Recognise(const void*, int32_t, HRESULT*, void*, YV_PORT_INFO*,
                          YV_ENUM_DEVICES_CALLBACK, void*) {
  return 1;
}

class Registration : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(YV_Initialize(0), S_OK); }
  void TearDown() override { YV_Finalyze(); }
  const ylvane::SerialTypeSlot* Slot(int i) {
    LibRef lib;
    return lib->SerialType(i);
  }
};

TEST_F(Registration, AgainWithoutListsKeepsThemAndTakesTheRest) {
  static const uint16_t pids[] = {0x0000, 0x1234, 0xFFFF};
  static const uint8_t request[] = {1, 2, 3};
  YV_SERIAL_DEVICE_TYPE t{};
  t.TypeIndex = 0;
  t.Request = request;
  t.RequestSize = 3;
  t.Callback = Recognise;
  t.DevDataSize = 24;
  t.Pids = pids;
  t.PidCount = 3;
  t.BaudRate = 9600;
  t.EvChar = 10;
  t.StopBits = 2;
  t.DescFilter = u"Reader";
  ASSERT_EQ(YV_RegSerialDevice(&t), S_OK);
  const ylvane::SerialTypeSlot* slot = Slot(0);
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(slot->vPids, (std::vector<uint16_t>{0x0000, 0x1234, 0xFFFF}));
  EXPECT_EQ(slot->sName, u"Reader");
  EXPECT_EQ(slot->pReqData, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_TRUE(slot->CanProbe());

  YV_SERIAL_DEVICE_TYPE again{};
  again.TypeIndex = 0;
  again.BaudRate = 19200;
  again.StopBits = 0;
  ASSERT_EQ(YV_RegSerialDevice(&again), S_OK);
  slot = Slot(0);
  EXPECT_EQ(slot->vPids, (std::vector<uint16_t>{0x0000, 0x1234, 0xFFFF}));
  EXPECT_EQ(slot->sName, u"Reader");
  EXPECT_EQ(slot->dwBaud, 19200u);
  EXPECT_EQ(slot->chEvChar, 0);
  EXPECT_EQ(slot->nReplySize, 0);
  // The request is kept but the callback was overwritten with none: such a
  // type must never be probed.
  EXPECT_EQ(slot->nReqSize, 3);
  EXPECT_FALSE(slot->CanProbe());

  // An empty filter given explicitly replaces the old one; an empty list too.
  YV_SERIAL_DEVICE_TYPE clear{};
  clear.TypeIndex = 0;
  clear.Pids = pids;
  clear.PidCount = 0;
  clear.DescFilter = u"";
  ASSERT_EQ(YV_RegSerialDevice(&clear), S_OK);
  EXPECT_TRUE(Slot(0)->vPids.empty());
  EXPECT_TRUE(Slot(0)->sName.empty());
}

// The host's product ids stay in the order it gave them; the lookups by
// product id still find every one of them.
TEST_F(Registration, KeepsTheProductIdsInTheGivenOrder) {
  static const uint16_t pids[] = {0x1237, 0xFFFF, 0x0000, 0x1234};
  YV_SERIAL_DEVICE_TYPE t{};
  t.TypeIndex = 3;
  t.Pids = pids;
  t.PidCount = 4;
  ASSERT_EQ(YV_RegSerialDevice(&t), S_OK);
  EXPECT_EQ(Slot(3)->vPids, (std::vector<uint16_t>{0x1237, 0xFFFF, 0x0000, 0x1234}));
  LibRef lib;
  const ylvane::SerialTypeTable types = ylvane::SerialTypeTable::Take(*lib.get());
  for (uint16_t pid : pids) EXPECT_EQ(ylvane::GetSerialTypesByPid(types, pid, ~0u), 1u << 3) << pid;
  EXPECT_EQ(ylvane::GetSerialTypesByPid(types, 0x1236, ~0u), 0u);
}

TEST_F(Registration, RejectedDescriptorChangesNothing) {
  EXPECT_EQ(Slot(5), nullptr);
  YV_SERIAL_DEVICE_TYPE t{};
  t.TypeIndex = 5;
  t.DevDataSize = -1;
  EXPECT_EQ(YV_RegSerialDevice(&t), E_INVALIDARG);
  EXPECT_EQ(Slot(5), nullptr);

  // A registered slot survives a bad registration untouched, field by field.
  static const uint16_t pids[] = {0x1234};
  static const uint8_t request[] = {7};
  YV_SERIAL_DEVICE_TYPE good{};
  good.TypeIndex = 5;
  good.Request = request;
  good.RequestSize = 1;
  good.Callback = Recognise;
  good.Pids = pids;
  good.PidCount = 1;
  good.BaudRate = 9600;
  ASSERT_EQ(YV_RegSerialDevice(&good), S_OK);
  static const uint16_t other[] = {0x4321};
  static const uint8_t otherRequest[] = {8, 9};
  for (const bool badPids : {true, false}) {
    YV_SERIAL_DEVICE_TYPE bad = good;
    bad.Request = otherRequest;
    bad.RequestSize = 2;
    bad.Pids = other;
    bad.BaudRate = 19200;
    if (badPids)
      bad.PidCount = -1;
    else
      bad.DevDataSize = -1;
    EXPECT_EQ(YV_RegSerialDevice(&bad), E_INVALIDARG);
    const ylvane::SerialTypeSlot* slot = Slot(5);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slot->dwBaud, 9600u);
    EXPECT_EQ(slot->vPids, (std::vector<uint16_t>{0x1234}));
    EXPECT_EQ(slot->pReqData, (std::vector<uint8_t>{7}));
    EXPECT_TRUE(slot->CanProbe());
  }
  // A second good registration with a request replaces the copy of it.
  YV_SERIAL_DEVICE_TYPE replace = good;
  replace.Request = otherRequest;
  replace.RequestSize = 2;
  ASSERT_EQ(YV_RegSerialDevice(&replace), S_OK);
  EXPECT_EQ(Slot(5)->pReqData, (std::vector<uint8_t>{8, 9}));
}

TEST_F(Registration, NetworkTypeKeepsTheLowSixteenBitsOfItsPort) {
  static const uint8_t request[] = {9};
  YV_IP_DEVICE_TYPE t{};
  t.TypeIndex = 3;
  t.Request = request;
  t.RequestSize = 1;
  t.Callback = Recognise;
  t.DevDataSize = 32;
  t.UdpPort = 0x12345;
  ASSERT_EQ(YV_RegIpDevice(&t), S_OK);
  LibRef lib;
  const ylvane::IpTypeSlot* slot = lib->IpType(3);
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(slot->wUdpPort, 0x2345);
  EXPECT_EQ(slot->nReplySize, 32);
  EXPECT_EQ(slot->pReqData, (std::vector<uint8_t>{9}));
}

TEST(LibraryObject, WndSyncAloneIsAcceptedOnlyWithoutWindow) {
  ASSERT_EQ(YV_Initialize(YV_INIT_NOWINDOW), S_OK);
  YV_NOTIFY_SETTINGS s{};
  s.Flags = YV_NF_WNDSYNC;
  s.Callback = [](uint32_t, const void*, void*) YV_CALL -> YV_BOOL { return 1; };
  YV_HANDLE h = nullptr;
  EXPECT_EQ(YV_FindNotification(&h, &s), S_OK);
  EXPECT_NE(h, nullptr);
  EXPECT_EQ(YV_CloseHandle(h), S_OK);
  YV_Finalyze();
}

}  // namespace
