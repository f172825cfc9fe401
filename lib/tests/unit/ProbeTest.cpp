// Probing of serial ports: real ptys whose devices are played by test
// threads, type callbacks that judge the replies like a host's would.
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../common/OpenDescriptors.h"
#include "../common/PtyDevice.h"
#include "../common/SysfsFixture.h"
#include "YvSeams.h"
#include "fake_ftd2xx.h"
#include "ylvane.h"

namespace {

const std::string kAsk = "ID?\r";

// One call of a type callback as the test saw it.
struct Call {
  int slot;
  bool hasReply;
  std::string reply;
  HRESULT status;  // on entry
  std::u16string name;
  int busy;
};

// One device reported to the host.
struct Report {
  int slot;
  std::u16string name;
  int busy;
  uint32_t mask;
  std::string id;
  std::u16string description;
  int32_t type;
  std::u16string portName;
};

using Judge = std::function<bool(const std::string* reply, HRESULT* status, uint8_t* block,
                                 YV_PORT_INFO* info)>;

// The reader's protocol: "YV-<id>\r" is a reader ("YV-SKIP\r" one the host
// need not hear of); anything that may still become that keeps the port
// waiting; anything else is no reader. Without a reply nothing is known.
bool JudgeReader(const std::string* reply, HRESULT* status, uint8_t* block, YV_PORT_INFO* info) {
  if (!reply) return false;
  const std::string& r = *reply;
  const size_t end = r.find('\r');
  if (r.compare(0, 3, "YV-") == 0 && end != std::string::npos && end > 3) {
    const std::string id = r.substr(3, end - 3);
    if (id == "SKIP") {
      const int32_t skip = -1;
      std::memcpy(block, &skip, sizeof skip);
      return true;
    }
    std::memcpy(block + 4, id.data(), std::min<size_t>(id.size(), 11));
    const std::u16string desc = u"Reader " + std::u16string(id.begin(), id.end());
    std::copy(desc.begin(), desc.end(), info->Description);
    return true;
  }
  const size_t n = std::min<size_t>(r.size(), 3);
  const bool mayBecome = end == std::string::npos && r.compare(0, n, "YV-", n) == 0;
  if (!mayBecome) *status = YV_S_NOT_FOUND;
  return false;
}

bool RejectAll(const std::string*, HRESULT* status, uint8_t*, YV_PORT_INFO*) {
  *status = YV_S_NOT_FOUND;
  return false;
}

struct Recorder {
  Judge judges[32];
  std::vector<Call> calls;
  std::vector<Report> reports;
  size_t cancelAt = 0;  // the host answers FALSE to this report (1-based); 0 never
};

Recorder* g_rec = nullptr;  // the type callbacks' way to the test

YV_BOOL YV_CALL TypeCallback(const void* reply, int32_t size, HRESULT* status, void* data,
                             YV_PORT_INFO* info, YV_ENUM_DEVICES_CALLBACK, void*) {
  int32_t slot;
  std::memcpy(&slot, data, sizeof slot);
  std::string bytes = reply ? std::string(static_cast<const char*>(reply), size) : std::string();
  g_rec->calls.push_back({slot, reply != nullptr, bytes, *status, info->Name, info->Busy});
  const Judge& judge = g_rec->judges[slot] ? g_rec->judges[slot] : Judge(JudgeReader);
  return judge(reply ? &bytes : nullptr, status, static_cast<uint8_t*>(data), info);
}

YV_BOOL YV_CALL HostCallback(const void* data, const YV_PORT_INFO* info, void* user) {
  auto* rec = static_cast<Recorder*>(user);
  const auto* block = static_cast<const char*>(data);
  int32_t slot;
  std::memcpy(&slot, block, sizeof slot);
  rec->reports.push_back({slot, info->Name, info->Busy, info->TypeMask,
                          std::string(block + 4, strnlen(block + 4, 12)), info->Description,
                          info->PortType, info->PortName});
  return rec->reports.size() != rec->cancelAt;
}

YV_SCAN_PARAMS Params(uint32_t reply, uint32_t firstPhase, int32_t tries = 1) {
  return YV_SCAN_PARAMS{reply, tries, 0, firstPhase, 0};
}

PtyDevice::Answers Says(std::vector<PtyDevice::Piece> pieces, const std::string& to = kAsk) {
  return {{to, std::move(pieces)}};
}

// A host that opens every device it is told of.
YV_BOOL YV_CALL OpenReported(const void*, const YV_PORT_INFO* info, void* user) {
  YV_HANDLE h = nullptr;
  *static_cast<HRESULT*>(user) = YV_Open(&h, info->Name, info->PortType, 9600, 10, 2);
  if (h) YV_CloseHandle(h);
  return 1;
}

class Probe : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(YV_Initialize(0), S_OK);
    g_rec = &rec_;
  }
  void TearDown() override {
    YV_Finalyze();
    g_rec = nullptr;
  }

  static void RegisterType(uint32_t slot, const std::string& request, char evChar = '\r',
                           uint32_t baud = 9600, int32_t devDataSize = 16,
                           std::vector<uint16_t> pids = {}) {
    YV_SERIAL_DEVICE_TYPE t{};
    t.TypeIndex = slot;
    t.Request = request.empty() ? nullptr : request.data();
    t.RequestSize = static_cast<int32_t>(request.size());
    t.Callback = TypeCallback;
    t.DevDataSize = devDataSize;
    t.Pids = pids.empty() ? nullptr : pids.data();
    t.PidCount = static_cast<int32_t>(pids.size());
    t.BaudRate = baud;
    t.EvChar = evChar;
    t.StopBits = 2;
    ASSERT_EQ(YV_RegSerialDevice(&t), S_OK);
  }

  // Probes the devices' ports; afterwards no descriptor of the scan is left
  // and every port can be opened again.
  HRESULT Enum(const std::vector<PtyDevice*>& devices, YV_SCAN_PARAMS params,
               uint32_t mask = 1) {
    std::vector<YV_PORT_ID> ports;
    for (PtyDevice* d : devices) ports.push_back({YV_PORT_COM, d->Name()});
    const int before = OpenDescriptors();
    HRESULT hr = YV_EnumSerialDevices(mask, ports.data(), static_cast<int32_t>(ports.size()),
                                      HostCallback, &rec_, &params, 0);
    ExpectReleased(devices, before);
    return hr;
  }

  static void ExpectReleased(const std::vector<PtyDevice*>& devices, int descriptorsBefore) {
    EXPECT_EQ(OpenDescriptors(), descriptorsBefore);
    for (PtyDevice* d : devices) {
      YV_HANDLE h = nullptr;
      EXPECT_EQ(YV_Open(&h, d->Name(), YV_PORT_COM, 9600, 10, 2), S_OK) << d->Path();
      if (h) YV_CloseHandle(h);
    }
  }

  std::vector<Call> CallsOn(const PtyDevice& d) const {
    std::vector<Call> out;
    for (const Call& c : rec_.calls)
      if (c.name == d.Name()) out.push_back(c);
    return out;
  }
  // Offers without a reply that the port's types had.
  int OffersOn(const PtyDevice& d) const {
    int n = 0;
    for (const Call& c : CallsOn(d)) n += !c.hasReply;
    return n;
  }
  const Report* ReportOf(const PtyDevice& d) const {
    for (const Report& r : rec_.reports)
      if (r.name == d.Name()) return &r;
    return nullptr;
  }

  Recorder rec_;
};

// Devices of every kind on one scan: all are probed side by side.
TEST_F(Probe, EachDeviceIsDecidedByWhatItAnswers) {
  struct Case {
    const char* what;
    PtyDevice::Answers answers;
    bool heldElsewhere;
    const char* id;  // reported with this id; null: not reported
    int busy;        // as the callbacks saw it
    int offers;      // offers without a reply
    int heard;       // requests the device heard
  } cases[] = {
      {"answers", Says({{0, "YV-0001\r"}}), false, "0001", 2, 0, 1},
      {"silent: offered once the tries are used up", Says({}), false, nullptr, 2, 1, 2},
      {"answers what no type takes: decided at once", Says({{0, "??\r"}}), false, nullptr, 2, 1,
       1},
      {"held by another open: offered as busy", Says({{0, "YV-0004\r"}}), true, nullptr, 3, 1,
       0},
      {"recognised, but not to be reported", Says({{0, "YV-SKIP\r"}}), false, nullptr, 2, 0, 1},
  };
  RegisterType(0, kAsk);
  std::vector<std::unique_ptr<PtyDevice>> devices;
  std::vector<PtyDevice*> ports;
  std::vector<YV_HANDLE> held;
  for (const Case& c : cases) {
    devices.push_back(std::make_unique<PtyDevice>(c.answers));
    ASSERT_TRUE(devices.back()->Ok());
    if (c.heldElsewhere) {
      held.push_back(nullptr);
      ASSERT_EQ(YV_Open(&held.back(), devices.back()->Name(), YV_PORT_COM, 9600, 10, 2), S_OK);
    } else {
      ports.push_back(devices.back().get());
    }
  }
  std::vector<YV_PORT_ID> list;
  for (auto& d : devices) list.push_back({YV_PORT_COM, d->Name()});
  YV_SCAN_PARAMS params = Params(400, 150, 2);
  const int before = OpenDescriptors();
  EXPECT_EQ(YV_EnumSerialDevices(1, list.data(), static_cast<int32_t>(list.size()), HostCallback,
                                 &rec_, &params, 0),
            S_OK);
  ExpectReleased(ports, before);
  for (YV_HANDLE h : held) YV_CloseHandle(h);

  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    const PtyDevice& d = *devices[i];
    SCOPED_TRACE(c.what);
    const Report* r = ReportOf(d);
    ASSERT_EQ(r != nullptr, c.id != nullptr);
    if (r) {
      EXPECT_EQ(r->id, c.id);
      EXPECT_EQ(r->slot, 0);
      EXPECT_EQ(r->busy, c.busy);
      EXPECT_EQ(r->mask, 1u);
      EXPECT_EQ(r->description, u"Reader " + std::u16string(c.id, c.id + std::strlen(c.id)));
    }
    EXPECT_EQ(OffersOn(d), c.offers);
    for (const Call& call : CallsOn(d)) {
      EXPECT_EQ(call.busy, c.busy);
      if (!call.hasReply) {
        EXPECT_EQ(call.status, YV_S_NOT_FOUND);
      }
    }
    EXPECT_EQ(d.Heard(kAsk, c.heard), c.heard);
  }
}

// A reply that comes after the first phase is read only when the cycle is
// still waiting for another port by then.
TEST_F(Probe, LateReplyIsTakenOnlyWhileTheCycleStillWaits) {
  struct Case {
    const char* what;
    bool withSlowSpeaker;
    uint32_t firstPhase;
    bool lateFound;
    int lateHeard;
  } cases[] = {
      {"one phase: waited for", false, 1500, true, 1},
      {"two phases, nobody answered in the first: the cycle ends with it", false, 100, false, 2},
      {"two phases, another port still talking: read after the wait", true, 100, true, 1},
  };
  RegisterType(0, kAsk, /*evChar=*/0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    rec_ = Recorder{};
    // Gaps of 400 ms and more: the late reply comes long after both cycles
    // of the second case ended, and long before the slow device is done.
    PtyDevice late(Says({{600, "YV-0002\r"}}));
    PtyDevice slow(Says({{0, "YV-"}, {1000, "0001\r"}}));
    ASSERT_TRUE(late.Ok() && slow.Ok());
    std::vector<PtyDevice*> devices{&late};
    if (c.withSlowSpeaker) devices.push_back(&slow);
    EXPECT_EQ(Enum(devices, Params(1500, c.firstPhase, 2)), S_OK);
    EXPECT_EQ(ReportOf(late) != nullptr, c.lateFound);
    EXPECT_EQ(late.Heard(kAsk, c.lateHeard), c.lateHeard);
    if (c.withSlowSpeaker) {
      ASSERT_NE(ReportOf(slow), nullptr);
      EXPECT_EQ(ReportOf(slow)->id, "0001");
    }
  }
}

TEST_F(Probe, UndecidedReplyKeepsWaitingAndIsAskedOnceMoreAfterTheWait) {
  RegisterType(0, kAsk, /*evChar=*/0);
  PtyDevice d(Says({{0, "YV-00"}}));
  ASSERT_TRUE(d.Ok());
  EXPECT_EQ(Enum({&d}, Params(200, 200, 1)), S_OK);
  const std::vector<Call> calls = CallsOn(d);
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].reply, "YV-00");
  EXPECT_EQ(calls[0].status, S_OK);  // during the wait
  EXPECT_EQ(calls[1].reply, "YV-00");
  EXPECT_EQ(calls[1].status, YV_S_NOT_FOUND);  // after it
  EXPECT_FALSE(calls[2].hasReply);             // the tries are used up
  EXPECT_TRUE(rec_.reports.empty());
}

// Two types with their own requests and rates are tried one after the
// other on the same open port.
TEST_F(Probe, VariantsAreTriedInSlotOrder) {
  struct Case {
    const char* what;
    PtyDevice::Answers answers;
    int heardA, heardB;
    int reportedSlot;  // -1: none
    int offers;
  } cases[] = {
      // The second request goes out at a higher rate, so it is written twice.
      {"answers the second type",
       {{"A?\r", {}}, {"B?\r", {{0, "YV-0001\r"}}}},
       1,
       2,
       1,
       0},
      {"rejected by every type at the first request: not asked again",
       {{"A?\r", {{0, "??\r"}}}, {"B?\r", {{0, "??\r"}}}},
       1,
       0,
       -1,
       2},
  };
  RegisterType(0, "A?\r", '\r', 9600);
  RegisterType(1, "B?\r", '\r', 19200);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    rec_ = Recorder{};
    PtyDevice d(c.answers);
    ASSERT_TRUE(d.Ok());
    EXPECT_EQ(Enum({&d}, Params(250, 250, 1), 0x3), S_OK);
    EXPECT_EQ(d.Heard("A?\r", c.heardA), c.heardA);
    EXPECT_EQ(d.Heard("B?\r", c.heardB), c.heardB);
    if (c.reportedSlot < 0) {
      EXPECT_TRUE(rec_.reports.empty());
    } else {
      ASSERT_EQ(rec_.reports.size(), 1u);
      EXPECT_EQ(rec_.reports[0].slot, c.reportedSlot);
      EXPECT_EQ(rec_.reports[0].mask, 0x3u);
    }
    EXPECT_EQ(OffersOn(d), c.offers);
  }
}

TEST_F(Probe, TypesWithTheSameRequestShareOneAndBothSeeTheReply) {
  RegisterType(0, kAsk);
  RegisterType(1, kAsk);
  rec_.judges[0] = RejectAll;
  PtyDevice d(Says({{0, "YV-0007\r"}}));
  ASSERT_TRUE(d.Ok());
  EXPECT_EQ(Enum({&d}, Params(300, 300, 2), 0x3), S_OK);
  EXPECT_EQ(d.Heard(kAsk, 1), 1);
  const std::vector<Call> calls = CallsOn(d);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].slot, 0);
  EXPECT_EQ(calls[1].slot, 1);
  EXPECT_EQ(calls[0].reply, "YV-0007\r");
  EXPECT_EQ(calls[1].reply, "YV-0007\r");
  ASSERT_EQ(rec_.reports.size(), 1u);
  EXPECT_EQ(rec_.reports[0].slot, 1);
  EXPECT_EQ(rec_.reports[0].id, "0007");
  EXPECT_EQ(rec_.reports[0].mask, 0x3u);
}

TEST_F(Probe, WithoutARequestNoPortIsOpenedAndEachIsOfferedOnce) {
  RegisterType(0, "");
  PtyDevice a, b;
  ASSERT_TRUE(a.Ok() && b.Ok());
  YV_PORT_ID ports[] = {{YV_PORT_COM, a.Name()}, {YV_PORT_COM, b.Name()}};
  YV_SCAN_PARAMS params = Params(200, 200, 2);
  EXPECT_EQ(YV_EnumSerialDevices(1, ports, 2, HostCallback, &rec_, &params, 0), S_OK);
  for (const PtyDevice* d : {&a, &b}) {
    EXPECT_FALSE(d->WasOpened());
    const std::vector<Call> calls = CallsOn(*d);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_FALSE(calls[0].hasReply);
    EXPECT_EQ(calls[0].status, YV_S_NOT_FOUND);
    EXPECT_EQ(calls[0].busy, 2);
  }
  EXPECT_TRUE(rec_.reports.empty());
}

// A port decided without a reply is given back before its types hear of it:
// a host told of a device there can open it at once.
TEST_F(Probe, PortOfferedWithoutReplyIsFreeForTheHost) {
  RegisterType(0, kAsk);
  rec_.judges[0] = [](const std::string* reply, HRESULT*, uint8_t*, YV_PORT_INFO*) {
    return reply == nullptr;  // this type knows its devices without a word
  };
  PtyDevice d(Says({}));
  ASSERT_TRUE(d.Ok());
  YV_PORT_ID port{YV_PORT_COM, d.Name()};
  YV_SCAN_PARAMS params = Params(80, 80, 1);
  HRESULT opened = E_FAIL;
  EXPECT_EQ(YV_EnumSerialDevices(1, &port, 1, OpenReported, &opened, &params, 0), S_OK);
  EXPECT_EQ(d.Heard(kAsk, 1), 1);
  EXPECT_EQ(opened, S_OK);
}

TEST_F(Probe, TriesCountThePassesOverTheVariants) {
  struct Case {
    int32_t tries;
    int heard;
  } cases[] = {{1, 1}, {3, 3}, {-1, 1} /* no endless passes */};
  RegisterType(0, kAsk);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tries);
    rec_ = Recorder{};
    PtyDevice d(Says({}));
    ASSERT_TRUE(d.Ok());
    EXPECT_EQ(Enum({&d}, Params(80, 80, c.tries)), S_OK);
    EXPECT_EQ(d.Heard(kAsk, c.heard), c.heard);
    EXPECT_EQ(OffersOn(d), 1);
  }
}

// A port that cannot be opened is tried again at once, with no wait between:
// a huge Tries must still let the scan end.
TEST_F(Probe, HugeTriesOnAPortThatCannotBeOpenedEnds) {
  RegisterType(0, kAsk);
  RegisterType(1, "B?\r", '\r', 19200);
  const std::u16string missing = u"pts/2147483647";
  YV_PORT_ID port{YV_PORT_COM, missing.c_str()};
  YV_SCAN_PARAMS params = Params(80, 80, INT32_MAX);
  EXPECT_EQ(YV_EnumSerialDevices(0x3, &port, 1, HostCallback, &rec_, &params, 0), S_OK);
  // Given up on in the end, and offered to both types without a reply.
  ASSERT_EQ(rec_.calls.size(), 2u);
  for (const Call& c : rec_.calls) {
    EXPECT_EQ(c.name, missing);
    EXPECT_FALSE(c.hasReply);
  }
  EXPECT_TRUE(rec_.reports.empty());
}

TEST_F(Probe, AbortEventEndsTheScan) {
  RegisterType(0, kAsk);
  PtyDevice d(Says({}));
  ASSERT_TRUE(d.Ok());
  const int abort = eventfd(0, EFD_CLOEXEC);
  ASSERT_GE(abort, 0);
  std::thread aborter([abort] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    uint64_t one = 1;
    EXPECT_EQ(write(abort, &one, sizeof one), static_cast<ssize_t>(sizeof one));
  });
  YV_SCAN_PARAMS params = Params(20000, 20000, 2);
  params.AbortEvent = abort;
  EXPECT_EQ(Enum({&d}, params), E_ABORT);
  aborter.join();
  close(abort);
  EXPECT_EQ(d.Heard(kAsk, 1), 1);
}

TEST_F(Probe, AbortEventThatIsNoOpenDescriptorIsRefused) {
  RegisterType(0, kAsk);
  PtyDevice d;
  ASSERT_TRUE(d.Ok());
  YV_SCAN_PARAMS params = Params(20000, 20000, 2);
  params.AbortEvent = 999999;
  EXPECT_EQ(Enum({&d}, params), E_INVALIDARG);
}

TEST_F(Probe, HostAnsweringFalseCancelsTheScan) {
  RegisterType(0, kAsk);
  PtyDevice a(Says({{0, "YV-0001\r"}})), b(Says({{0, "YV-0002\r"}})),
      c(Says({{0, "YV-0003\r"}}));
  ASSERT_TRUE(a.Ok() && b.Ok() && c.Ok());
  rec_.cancelAt = 1;
  EXPECT_EQ(Enum({&a, &b, &c}, Params(300, 300, 2)), YV_S_CANCELED);
  EXPECT_EQ(rec_.reports.size(), 1u);
}

// A type callback that registers its type anew in the middle of a scan: the
// scan goes on with the type as it stood when it started.
TEST_F(Probe, RegisteringAgainDuringAScanDoesNotChangeIt) {
  RegisterType(0, kAsk, /*evChar=*/0);
  bool registered = false;
  rec_.judges[0] = [&](const std::string* reply, HRESULT* status, uint8_t* block,
                       YV_PORT_INFO* info) {
    if (!registered) {
      registered = true;
      RegisterType(0, "XX\r", 0, 115200, 64);
    }
    return JudgeReader(reply, status, block, info);
  };
  PtyDevice d(Says({{0, "YV-00"}}));
  ASSERT_TRUE(d.Ok());
  EXPECT_EQ(Enum({&d}, Params(150, 150, 2)), S_OK);
  EXPECT_TRUE(registered);
  EXPECT_EQ(d.Heard(kAsk, 2), 2);
  EXPECT_EQ(d.Heard("XX\r"), 0);
}

TEST_F(Probe, DeviceGoingAwayIsNotWaitedFor) {
  RegisterType(0, kAsk);
  PtyDevice d(Says({}));
  ASSERT_TRUE(d.Ok());
  d.HangUpOnRequest();
  YV_PORT_ID port{YV_PORT_COM, d.Name()};
  YV_SCAN_PARAMS params = Params(20000, 20000, 2);
  const int before = OpenDescriptors();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(YV_EnumSerialDevices(1, &port, 1, HostCallback, &rec_, &params, 0), S_OK);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(OpenDescriptors(), before - 1);  // the device's master side went too
  EXPECT_EQ(d.Heard(kAsk, 1), 1);
  EXPECT_EQ(OffersOn(d), 1);
}

TEST_F(Probe, NameLongerThanThePortInfoHoldsIsRefused) {
  RegisterType(0, kAsk);
  YV_PORT_ID port{YV_PORT_COM, u"pts/0123456789012345678901234567"};  // 32 characters
  YV_SCAN_PARAMS params = Params(100, 100, 1);
  EXPECT_EQ(YV_EnumSerialDevices(1, &port, 1, HostCallback, &rec_, &params, 0), E_INVALIDARG);
  EXPECT_TRUE(rec_.calls.empty());
}

class FindDevice : public Probe {
 protected:
  static constexpr uint8_t kUntouched = 0xEE;
  // The type's data is 24 bytes: the slot, the id, and a pattern behind it.
  void SetUp() override {
    Probe::SetUp();
    RegisterType(0, kAsk, '\r', 9600, 24);
    rec_.judges[0] = [](const std::string* reply, HRESULT* status, uint8_t* block,
                        YV_PORT_INFO* info) {
      if (!JudgeReader(reply, status, block, info)) return false;
      std::memset(block + 16, 0x5A, 8);
      return true;
    };
  }
  HRESULT Find(const std::vector<PtyDevice*>& devices, uint8_t* data, int32_t size,
               YV_PORT_INFO* info) {
    std::vector<YV_PORT_ID> ports;
    for (PtyDevice* d : devices) ports.push_back({YV_PORT_COM, d->Name()});
    YV_SCAN_PARAMS params = Params(300, 300, 2);
    const int before = OpenDescriptors();
    HRESULT hr = YV_FindSerialDevice(1, ports.data(), static_cast<int32_t>(ports.size()), data,
                                     size, info, &params, 0);
    ExpectReleased(devices, before);
    return hr;
  }
};

TEST_F(FindDevice, CopiesAtMostTheSmallerOfTheTwoDataSizes) {
  struct Case {
    int32_t callerSize;
    int32_t copied;
  } cases[] = {{16, 16}, {32, 24}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.callerSize);
    PtyDevice d(Says({{0, "YV-0042\r"}}));
    ASSERT_TRUE(d.Ok());
    uint8_t data[40];
    std::memset(data, kUntouched, sizeof data);
    YV_PORT_INFO info{};
    EXPECT_EQ(Find({&d}, data, c.callerSize, &info), S_OK);
    EXPECT_EQ(info.PortType, YV_PORT_COM);
    EXPECT_EQ(std::u16string(info.Name), d.Name());
    EXPECT_EQ(std::u16string(info.Description), u"Reader 0042");
    int32_t slot;
    std::memcpy(&slot, data, sizeof slot);
    EXPECT_EQ(slot, 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data + 4), 4), "0042");
    for (int i = 16; i < 40; ++i)
      EXPECT_EQ(data[i], i < c.copied ? 0x5A : kUntouched) << "byte " << i;
  }
}

TEST_F(FindDevice, StopsAtTheFirstDevice) {
  PtyDevice a(Says({{0, "YV-0001\r"}})), b(Says({{0, "YV-0002\r"}}));
  ASSERT_TRUE(a.Ok() && b.Ok());
  uint8_t data[16] = {};
  YV_PORT_INFO info{};
  EXPECT_EQ(Find({&a, &b}, data, sizeof data, &info), S_OK);
  const std::u16string name = info.Name;
  EXPECT_TRUE(name == a.Name() || name == b.Name());
}

TEST_F(FindDevice, NothingFoundLeavesTheInfoWithoutAPortType) {
  PtyDevice d(Says({{0, "??\r"}}));
  ASSERT_TRUE(d.Ok());
  uint8_t data[16];
  std::memset(data, kUntouched, sizeof data);
  YV_PORT_INFO info{};
  info.PortType = 7;
  EXPECT_EQ(Find({&d}, data, sizeof data, &info), YV_S_NOT_FOUND);
  EXPECT_EQ(info.PortType, 0);
  for (uint8_t b : data) EXPECT_EQ(b, kUntouched);
}

// Without a port list the ports come from the listing: plain serial ports of
// a fixture sysfs tree, whose names lead to real ptys through links in /dev.
class ProbeListed : public Probe {
 protected:
  void SetUp() override {
    Probe::SetUp();
    if (access("/dev", W_OK) != 0) GTEST_SKIP() << "needs links in /dev (run as root)";
    ylvane::SetSysRoot(fx_.SysRoot());
    ylvane::SetLockDir(fx_.LockDir());
    ylvane::SetFtLibraryPath("/nonexistent/libftd2xx.so");
  }
  void TearDown() override {
    for (const std::string& l : links_) unlink(("/dev/" + l).c_str());
    ylvane::SetSysRoot("/sys");
    ylvane::SetLockDir("/var/lock");
    ylvane::SetFtLibraryPath("libftd2xx.so");
    Probe::TearDown();
  }
  // A plain serial port of the listing that is the device's pty.
  std::string List(const PtyDevice& d, const std::string& suffix) {
    const std::string name = "ttyYvProbe" + std::to_string(getpid()) + suffix;
    unlink(("/dev/" + name).c_str());
    EXPECT_EQ(symlink(d.Path().c_str(), ("/dev/" + name).c_str()), 0);
    links_.push_back(name);
    fx_.AddSerialTty(name);
    return name;
  }

  SysfsFixture fx_;
  std::vector<std::string> links_;
};

TEST_F(ProbeListed, ProbesTheListedPortsAndNeverOpensABusyOne) {
  RegisterType(0, kAsk, '\r', 9600, 16, {0x0000});
  PtyDevice reader(Says({{0, "YV-0005\r"}})), locked(Says({{0, "YV-0006\r"}}));
  ASSERT_TRUE(reader.Ok() && locked.Ok());
  const std::string readerName = List(reader, "a");
  const std::string lockedName = List(locked, "b");
  fx_.WriteLock(lockedName, "      " + std::to_string(getpid()) + "\n");

  YV_SCAN_PARAMS params = Params(300, 300, 2);
  const int before = OpenDescriptors();
  EXPECT_EQ(YV_EnumSerialDevices(1, nullptr, 0, HostCallback, &rec_, &params, 0), S_OK);
  EXPECT_EQ(OpenDescriptors(), before);

  ASSERT_EQ(rec_.reports.size(), 1u);
  const Report& r = rec_.reports[0];
  EXPECT_EQ(r.name, std::u16string(readerName.begin(), readerName.end()));
  EXPECT_EQ(r.busy, 0);
  EXPECT_EQ(r.mask, 1u);
  EXPECT_EQ(r.id, "0005");
  EXPECT_FALSE(locked.WasOpened());
  EXPECT_EQ(locked.Heard(kAsk), 0);
  std::vector<Call> offers;
  for (const Call& c : rec_.calls)
    if (c.name == std::u16string(lockedName.begin(), lockedName.end())) offers.push_back(c);
  ASSERT_EQ(offers.size(), 1u);
  EXPECT_FALSE(offers[0].hasReply);
  EXPECT_EQ(offers[0].busy, 1);
}

TEST_F(ProbeListed, NoListedPortIsNoScan) {
  RegisterType(0, kAsk, '\r', 9600, 16, {0x1234});  // a reader no one plugged in
  YV_SCAN_PARAMS params = Params(300, 300, 2);
  EXPECT_EQ(YV_EnumSerialDevices(1, nullptr, 0, HostCallback, &rec_, &params, 0), S_OK);
  EXPECT_TRUE(rec_.calls.empty());
  uint8_t data[16] = {};
  EXPECT_EQ(YV_FindSerialDevice(1, nullptr, 0, data, sizeof data, nullptr, &params, 0),
            YV_S_NOT_FOUND);
}

// A reader served by the kernel's own serial driver is listed as an FTDI
// device (its serial number, its tty as PortName). When the driver library
// is missing, or cannot open the device (the kernel's driver holds it), it
// is probed through its tty, and reported as the FTDI device it is.
TEST_F(ProbeListed, AnFtdiDeviceTheDriverLibraryCannotOpenIsProbedThroughItsTty) {
  struct Case {
    const char* what;
    bool library;   // the driver library lists the device, but cannot open it
    bool ttyHeld;   // another opener holds the tty
  } cases[] = {
      {"without the driver library", false, false},
      {"the driver library cannot open it", true, false},
      {"its tty is held elsewhere", true, true},
  };
  RegisterType(0, kAsk, '\r', 9600, 16, {0x1234});
  PtyDevice reader(Says({{0, "YV-0007\r"}}));
  ASSERT_TRUE(reader.Ok());
  const std::string tty = "ttyUSB" + std::to_string(getpid());
  unlink(("/dev/" + tty).c_str());
  ASSERT_EQ(symlink(reader.Path().c_str(), ("/dev/" + tty).c_str()), 0);
  links_.push_back(tty);
  const std::u16string tty16(tty.begin(), tty.end());
  fx_.AddUsb("1-1", 0x0403, 0x1234, "A5", "Reader", tty);
  const YV_SCAN_PARAMS params = Params(1000, 1000, 1);
  for (const Case& c : cases) {
    rec_.calls.clear();
    rec_.reports.clear();
    FakeFt_ResetDevices(0, 0);
    ylvane::SetFtLibraryPath(c.library ? FAKE_FTD2XX_PATH : "/nonexistent/libftd2xx.so");
    if (c.library) {
      FakeFt_AddDevice(0, 5, "A5", "Reader");
      FakeFt_SetFailure("FT_OpenEx", 3);  // "not opened": someone else has it
    }
    YV_HANDLE holder = nullptr;
    if (c.ttyHeld) {
      ASSERT_EQ(YV_Open(&holder, tty16.c_str(), YV_PORT_COM, 9600, 10, 2), S_OK);
    }

    EXPECT_EQ(YV_EnumSerialDevices(1, nullptr, 0, HostCallback, &rec_, &params, 0), S_OK)
        << c.what;
    uint8_t data[16] = {};
    YV_PORT_INFO info{};
    const HRESULT found = YV_FindSerialDevice(1, nullptr, 0, data, sizeof data, &info, &params, 0);
    if (holder) YV_CloseHandle(holder);
    if (c.ttyHeld) {
      // Busy: offered once without a reply, never written to.
      EXPECT_TRUE(rec_.reports.empty()) << c.what;
      EXPECT_EQ(found, YV_S_NOT_FOUND) << c.what;
      ASSERT_FALSE(rec_.calls.empty()) << c.what;
      EXPECT_FALSE(rec_.calls[0].hasReply) << c.what;
      EXPECT_EQ(rec_.calls[0].busy & 1, 1) << c.what;
      continue;
    }
    ASSERT_EQ(rec_.reports.size(), 1u) << c.what;
    const Report& r = rec_.reports[0];
    EXPECT_EQ(r.type, YV_PORT_FT) << c.what;
    EXPECT_EQ(r.name, u"A5") << c.what;
    EXPECT_EQ(r.portName, tty16) << c.what;
    EXPECT_EQ(r.busy, 0) << c.what;
    EXPECT_EQ(r.id, "0007") << c.what;
    EXPECT_EQ(found, S_OK) << c.what;
    EXPECT_EQ(info.PortType, YV_PORT_FT) << c.what;
    EXPECT_EQ(std::u16string(info.Name), u"A5") << c.what;
    EXPECT_EQ(std::u16string(info.PortName), tty16) << c.what;
  }
  EXPECT_EQ(reader.Heard(kAsk), 4);  // two scans in each of the first two cases
  FakeFt_ResetDevices(0, 0);
}

}  // namespace
