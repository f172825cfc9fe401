// Notifiers: settings, the fan-out of one message, the three ways of
// delivery, payloads, and closing or finalising from inside a callback.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <set>
#include <stdexcept>
#include <thread>

#include "../common/NotifyRecorder.h"
#include "../common/SysfsFixture.h"
#include "YvDetector.h"
#include "YvLib.h"
#include "YvNotifier.h"
#include "YvSeams.h"
#include "ylvane.h"

using ylvane::CYvDetector;
using ylvane::CYvNotifier;

namespace {

YV_PORT_INFO Info(const char16_t* name, uint32_t mask, const char16_t* tty = u"") {
  YV_PORT_INFO info{};
  info.PortType = YV_PORT_FT;
  std::u16string n(name), t(tty);
  std::copy(n.begin(), n.end(), info.Name);
  std::copy(t.begin(), t.end(), info.PortName);
  info.TypeMask = mask;
  return info;
}

class Notifiers : public ::testing::Test {
 protected:
  void SetUp() override {
    ylvane::SetSysRoot(fx_.SysRoot());  // no devices: nothing but what the test queues
    ASSERT_EQ(YV_Initialize(YV_INIT_NOWINDOW), S_OK);
  }
  void TearDown() override {
    YV_Finalyze();
    ylvane::SetSysRoot("/sys");
  }

  YV_HANDLE Make(uint32_t flags, uint32_t serialMask, NotifyRecorder* rec, uint32_t ipMask = 0,
                 YV_NOTIFY_CALLBACK cb = NotifyRecorder::Callback) {
    YV_NOTIFY_SETTINGS s{};
    s.Flags = flags;
    s.Callback = cb;
    s.UserData = rec;
    s.SerialTypeMask = serialMask;
    s.IpTypeMask = ipMask;
    YV_HANDLE h = nullptr;
    EXPECT_EQ(YV_FindNotification(&h, &s), S_OK);
    return h;
  }

  static CYvDetector* Detector() { return static_cast<CYvDetector*>(ylvane::g_pDetector); }
  static CYvNotifier* AsNotifier(YV_HANDLE h) {
    return static_cast<CYvNotifier*>(static_cast<ylvane::IUnknown*>(h));
  }

  SysfsFixture fx_;
};

TEST_F(Notifiers, ZeroIntervalsTakeTheDefaults) {
  NotifyRecorder rec;
  YV_HANDLE h = Make(YV_NF_EXIST, 1, &rec);
  EXPECT_EQ(AsNotifier(h)->m_nSerialInterval, 5000u);
  EXPECT_EQ(AsNotifier(h)->m_nIpInterval, 15000u);
  EXPECT_EQ(YV_CloseHandle(h), S_OK);
  EXPECT_EQ(ylvane::g_pDetector, nullptr);
}

TEST_F(Notifiers, OneMessageIsSharedAndLivesUntilItsLastDelivery) {
  // The first notifier's callback runs on the worker and holds on until the
  // second notifier's host has drained and let go of the same message.
  struct Gate {
    std::latch entered{1}, release{1};
    NotifyRecorder rec;
  } gate;
  auto blocking = [](uint32_t kind, const void* payload, void* user) YV_CALL -> YV_BOOL {
    auto* g = static_cast<Gate*>(user);
    g->entered.count_down();
    g->release.wait();
    g->rec.Add(kind, payload);
    return 1;
  };
  YV_NOTIFY_SETTINGS s{};
  s.Flags = YV_NF_EXIST;
  s.Callback = blocking;
  s.UserData = &gate;
  s.SerialTypeMask = 1;
  YV_HANDLE onWorker = nullptr;
  ASSERT_EQ(YV_FindNotification(&onWorker, &s), S_OK);
  NotifyRecorder hostRec;
  YV_HANDLE byHost = Make(YV_NF_EXIST | YV_NF_WNDSYNC, 1, &hostRec);

  const uint8_t data[8] = {0, 0, 0, 0, 7, 0, 0, 0};
  YV_PORT_INFO info = Info(u"A5", 1, u"ttyUSB0");
  Detector()->QueueExist(true, &info, data, sizeof data, 1, false);
  gate.entered.wait();
  ASSERT_EQ(YV_ProcessMessages(byHost, NotifyRecorder::Callback, &hostRec), S_OK);
  gate.release.count_down();
  ASSERT_TRUE(gate.rec.WaitFor(1));

  const Notice a = gate.rec.Got()[0], b = hostRec.Got()[0];
  EXPECT_NE(a.thread, std::this_thread::get_id());  // the worker
  EXPECT_EQ(b.thread, std::this_thread::get_id());  // the host's own thread
  for (const Notice& n : {a, b}) {
    EXPECT_EQ(n.kind, YV_NMSG_ARRIVAL);
    EXPECT_EQ(std::memcmp(&n.exist.Info, &info, sizeof info), 0);
    EXPECT_EQ(n.data, std::vector<uint8_t>(data, data + 8));
  }
  EXPECT_EQ(a.exist.DevData, b.exist.DevData);  // one copy for both
  EXPECT_NE(a.exist.DevData, static_cast<const void*>(data));
  YV_CloseHandle(onWorker);
  YV_CloseHandle(byHost);
}

struct FanoutCase {
  const char* name;
  std::function<void(CYvDetector*)> queue;
  std::set<int> reached;  // which of the three notifiers below get it
};

void PrintTo(const FanoutCase& c, std::ostream* os) { *os << c.name; }

class Fanout : public Notifiers, public ::testing::WithParamInterface<FanoutCase> {};

TEST_P(Fanout, ReachesTheNotifiersOfItsKindAndTypes) {
  NotifyRecorder rec[3];
  // Drained by the test, so that what did not come can be told too.
  const uint32_t host = YV_NF_WNDSYNC;
  YV_HANDLE h[3] = {Make(host | YV_NF_EXIST | YV_NF_CHANGE | YV_NF_ERROR, 1, &rec[0]),
                    Make(host | YV_NF_EXIST | YV_NF_ERROR, 2, &rec[1]),
                    Make(host | YV_NF_EXIST, 0, &rec[2], /*ipMask=*/1)};
  GetParam().queue(Detector());
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(YV_ProcessMessages(h[i], NotifyRecorder::Callback, &rec[i]), S_OK);
    EXPECT_EQ(rec[i].Got().size(), GetParam().reached.count(i)) << "notifier " << i;
    YV_CloseHandle(h[i]);
  }
}

YV_PORT_INFO g_info = Info(u"A5", 1);

INSTANTIATE_TEST_SUITE_P(
    Messages, Fanout,
    ::testing::Values(
        FanoutCase{"ArrivalOfType0",
                   [](CYvDetector* d) { d->QueueExist(true, &g_info, nullptr, 0, 1, false); },
                   {0}},
        FanoutCase{"RemovalOfType1",
                   [](CYvDetector* d) { d->QueueExist(false, &g_info, nullptr, 0, 2, false); },
                   {1}},
        FanoutCase{"NetworkArrival",
                   [](CYvDetector* d) { d->QueueExist(true, &g_info, nullptr, 0, 1, true); },
                   {2}},
        FanoutCase{"TypeMaskZeroReachesEveryone",
                   [](CYvDetector* d) { d->QueueExist(true, &g_info, nullptr, 0, 0, false); },
                   {0, 1, 2}},
        FanoutCase{"ChangeOnlyToWhoAsked",
                   [](CYvDetector* d) {
                     d->QueueChange(YV_CHG_BUSY, &g_info, nullptr, 0, &g_info, nullptr, 0, 3,
                                    false);
                   },
                   {0}},
        FanoutCase{"ErrorsIgnoreTypes", [](CYvDetector* d) { d->QueueError(E_FAIL); }, {0, 1}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Notifiers, ANullCallbackDiscardsTheQueue) {
  NotifyRecorder rec;
  YV_HANDLE h = Make(YV_NF_EXIST | YV_NF_WNDSYNC, 1, &rec);
  for (int i = 0; i < 3; ++i) Detector()->QueueExist(true, &g_info, nullptr, 0, 1, false);
  EXPECT_EQ(YV_ProcessMessages(h, nullptr, nullptr), S_OK);
  EXPECT_EQ(YV_ProcessMessages(h, NotifyRecorder::Callback, &rec), S_OK);
  EXPECT_TRUE(rec.Got().empty());
  YV_CloseHandle(h);
}

TEST_F(Notifiers, ASignalNotifierIsToldOnceAndKeepsItsMessages) {
  NotifyRecorder signals, drained;
  YV_HANDLE h = Make(YV_NF_EXIST | YV_NF_SIGNAL, 1, &signals);
  {
    // Both queued before the worker can run a delivery pass.
    ylvane::LibRef lib;
    ylvane::CCritLock lock(lib->Lock());
    Detector()->QueueExist(true, &g_info, nullptr, 0, 1, false);
    Detector()->QueueExist(false, &g_info, nullptr, 0, 1, false);
  }
  ASSERT_TRUE(signals.WaitFor(1));
  EXPECT_FALSE(signals.WaitFor(2, 100));
  EXPECT_EQ(signals.Got()[0].kind, YV_NMSG_SIGNAL);
  ASSERT_EQ(YV_ProcessMessages(h, NotifyRecorder::Callback, &drained), S_OK);
  ASSERT_EQ(drained.Got().size(), 2u);
  EXPECT_EQ(drained.Got()[0].kind, YV_NMSG_ARRIVAL);
  EXPECT_EQ(drained.Got()[1].kind, YV_NMSG_REMOVAL);
  // A message queued later is signalled again.
  Detector()->QueueError(E_FAIL);
  Detector()->QueueExist(true, &g_info, nullptr, 0, 1, false);
  EXPECT_TRUE(signals.WaitFor(2));
  YV_CloseHandle(h);
}

TEST_F(Notifiers, AChangeCarriesTheOldAndTheNewData) {
  NotifyRecorder rec;
  YV_HANDLE h = Make(YV_NF_CHANGE | YV_NF_WNDSYNC, 1, &rec);
  const uint8_t before[8] = {0, 0, 0, 0, 1, 2, 3, 4};
  const uint8_t after[8] = {0, 0, 0, 0, 1, 2, 9, 4};
  YV_PORT_INFO now = Info(u"A5", 1, u"ttyUSB1"), old = Info(u"A5", 1, u"ttyUSB0");
  Detector()->QueueChange(YV_CHG_PORTNAME | YV_CHG_DATA1, &now, after, 8, &old, before, 8, 1,
                          false);
  ASSERT_EQ(YV_ProcessMessages(h, NotifyRecorder::Callback, &rec), S_OK);
  ASSERT_EQ(rec.Got().size(), 1u);
  const Notice n = rec.Got()[0];
  EXPECT_EQ(n.kind, YV_NMSG_CHANGE);
  EXPECT_EQ(n.change.ChangeMask, YV_CHG_PORTNAME | YV_CHG_DATA1);
  EXPECT_EQ(Text(n.change.NewInfo.PortName), u"ttyUSB1");
  EXPECT_EQ(Text(n.change.OldInfo.PortName), u"ttyUSB0");
  EXPECT_EQ(n.data, std::vector<uint8_t>(after, after + 8));
  EXPECT_EQ(n.oldData, std::vector<uint8_t>(before, before + 8));
  YV_CloseHandle(h);
}

TEST_F(Notifiers, TextsWithoutTerminatorReachTheHostTerminated) {
  NotifyRecorder rec;
  YV_HANDLE h = Make(YV_NF_EXIST | YV_NF_WNDSYNC, 1, &rec);
  YV_PORT_INFO info{};
  std::fill(std::begin(info.Name), std::end(info.Name), u'N');
  std::fill(std::begin(info.PortName), std::end(info.PortName), u'P');
  std::fill(std::begin(info.Description), std::end(info.Description), u'D');
  Detector()->QueueExist(true, &info, nullptr, 0, 1, false);
  ASSERT_EQ(YV_ProcessMessages(h, NotifyRecorder::Callback, &rec), S_OK);
  ASSERT_EQ(rec.Got().size(), 1u);
  const YV_PORT_INFO got = rec.Got()[0].exist.Info;
  EXPECT_EQ(Text(got.Name), std::u16string(31, u'N'));
  EXPECT_EQ(Text(got.PortName), std::u16string(31, u'P'));
  EXPECT_EQ(Text(got.Description), std::u16string(63, u'D'));
  YV_CloseHandle(h);
}

TEST_F(Notifiers, ACallbackThatThrowsEndsTheDrainWithFail) {
  NotifyRecorder rec;
  YV_HANDLE h = Make(YV_NF_EXIST | YV_NF_WNDSYNC, 1, &rec);
  Detector()->QueueExist(true, &g_info, nullptr, 0, 1, false);
  Detector()->QueueExist(false, &g_info, nullptr, 0, 1, false);
  auto thrower = [](uint32_t, const void*, void*)
                     YV_CALL -> YV_BOOL { throw std::runtime_error("host failure"); };
  EXPECT_EQ(YV_ProcessMessages(h, thrower, nullptr), E_FAIL);
  // The message that failed is gone; the next one is still there.
  EXPECT_EQ(YV_ProcessMessages(h, NotifyRecorder::Callback, &rec), S_OK);
  ASSERT_EQ(rec.Got().size(), 1u);
  EXPECT_EQ(rec.Got()[0].kind, YV_NMSG_REMOVAL);
  YV_CloseHandle(h);
}

// The host closes its notifier on another thread while the worker is inside
// the notifier's callback: the close returns only after the callback has.
TEST_F(Notifiers, ClosingWaitsForACallbackUnderWay) {
  struct Slow {
    std::latch entered{1};
    std::atomic<bool> finished{false};
    std::atomic<int> calls{0};
  } slow;
  auto cb = [](uint32_t, const void*, void* user) YV_CALL -> YV_BOOL {
    auto* s = static_cast<Slow*>(user);
    if (s->calls++ == 0) {
      s->entered.count_down();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      s->finished = true;
    }
    return 1;
  };
  YV_NOTIFY_SETTINGS s{};
  s.Flags = YV_NF_EXIST;
  s.Callback = cb;
  s.UserData = &slow;
  s.SerialTypeMask = 1;
  YV_HANDLE h = nullptr;
  ASSERT_EQ(YV_FindNotification(&h, &s), S_OK);
  // Keeps the detector alive, so the close below is not its last release.
  NotifyRecorder other;
  YV_HANDLE keep = Make(YV_NF_ERROR | YV_NF_EXIST, 2, &other);
  Detector()->QueueExist(true, &g_info, nullptr, 0, 1, false);
  Detector()->QueueExist(true, &g_info, nullptr, 0, 1, false);
  slow.entered.wait();
  EXPECT_EQ(YV_CloseHandle(h), S_OK);
  EXPECT_TRUE(slow.finished);
  // Its second message was discarded with it.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(slow.calls, 1);
  YV_CloseHandle(keep);
}

// What a host may do from inside a callback on the worker: close its last
// notifier, or finalise the library. The worker cannot wait for itself; it
// ends by itself once the callback returns.
struct FromCallbackCase {
  const char* name;
  bool finalyze;
};

void PrintTo(const FromCallbackCase& c, std::ostream* os) { *os << c.name; }

class FromCallback : public Notifiers, public ::testing::WithParamInterface<FromCallbackCase> {};

struct Ending {
  YV_HANDLE handle = nullptr;
  bool finalyze = false;
  std::latch done{1};
};

YV_BOOL YV_CALL EndFromCallback(uint32_t, const void*, void* user) {
  auto* e = static_cast<Ending*>(user);
  if (e->finalyze)
    YV_Finalyze();
  else
    YV_CloseHandle(e->handle);
  e->done.count_down();
  return 1;
}

TEST_P(FromCallback, EndsWithoutDeadlockAndTheWorkerGoes) {
  const int threadsBefore = ThreadCount();
  Ending ending;
  ending.finalyze = GetParam().finalyze;
  YV_NOTIFY_SETTINGS s{};
  s.Flags = YV_NF_EXIST;
  s.Callback = EndFromCallback;
  s.UserData = &ending;
  s.SerialTypeMask = 1;
  ASSERT_EQ(YV_FindNotification(&ending.handle, &s), S_OK);
  // Finalising also takes a second notifier with a message still queued.
  NotifyRecorder rec;
  if (ending.finalyze) Make(YV_NF_EXIST | YV_NF_WNDSYNC, 1, &rec);
  Detector()->QueueExist(true, &g_info, nullptr, 0, 1, false);
  ending.done.wait();
  EXPECT_EQ(ylvane::g_pDetector, nullptr);
  EXPECT_TRUE(Eventually([&] { return ThreadCount() == threadsBefore; }));
  if (ending.finalyze) {
    // The callback's YV_Finalyze dropped the only reference: the library
    // is gone, and its teardown ran on the worker.
    EXPECT_EQ(ylvane::CYvLib::Acquire(), nullptr);
    ASSERT_EQ(YV_Initialize(YV_INIT_NOWINDOW), S_OK);  // for TearDown
  }
}

INSTANTIATE_TEST_SUITE_P(Host, FromCallback,
                         ::testing::Values(FromCallbackCase{"ClosesItsNotifier", false},
                                           FromCallbackCase{"Finalyzes", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The same from inside the host's own drain of a notifier's queue: once
// the close or the last YV_Finalyze has returned, the messages still queued
// are discarded and the callback is not called again.
struct Draining {
  YV_HANDLE handle = nullptr;
  bool finalyze = false;
  int calls = 0;
};

YV_BOOL YV_CALL EndWhileDraining(uint32_t, const void*, void* user) {
  auto* d = static_cast<Draining*>(user);
  if (++d->calls == 1) {
    if (d->finalyze)
      YV_Finalyze();
    else
      YV_CloseHandle(d->handle);
  }
  return 1;
}

class FromDrain : public Notifiers, public ::testing::WithParamInterface<FromCallbackCase> {};

TEST_P(FromDrain, NothingIsDeliveredAfterTheRelease) {
  Draining d;
  d.finalyze = GetParam().finalyze;
  YV_NOTIFY_SETTINGS s{};
  s.Flags = YV_NF_EXIST | YV_NF_WNDSYNC;
  s.Callback = EndWhileDraining;
  s.SerialTypeMask = 1;
  ASSERT_EQ(YV_FindNotification(&d.handle, &s), S_OK);
  for (int i = 0; i < 3; ++i) Detector()->QueueExist(true, &g_info, nullptr, 0, 1, false);
  EXPECT_EQ(YV_ProcessMessages(d.handle, EndWhileDraining, &d), S_OK);
  EXPECT_EQ(d.calls, 1);
  EXPECT_EQ(ylvane::g_pDetector, nullptr);
  if (d.finalyze) {
    EXPECT_EQ(ylvane::CYvLib::Acquire(), nullptr);
    ASSERT_EQ(YV_Initialize(YV_INIT_NOWINDOW), S_OK);  // for TearDown
  }
}

INSTANTIATE_TEST_SUITE_P(Host, FromDrain,
                         ::testing::Values(FromCallbackCase{"ClosesItsNotifier", false},
                                           FromCallbackCase{"Finalyzes", true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
