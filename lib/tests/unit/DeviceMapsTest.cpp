// The detector's device maps: rescans by plain listing against fixture trees
// that change between rescans, probing rescans of devices played on ptys,
// network rescans on a network of the test's own, the diff of one device
// against its entry, port lists, and the library's device scans answering
// from the maps or rescanning through them.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "../common/NotifyRecorder.h"
#include "../common/PrivateNetwork.h"
#include "../common/PtyDevice.h"
#include "../common/SysfsFixture.h"
#include "YvDetector.h"
#include "YvDeviceMaps.h"
#include "YvLib.h"
#include "YvSeams.h"
#include "fake_ftd2xx.h"
#include "ylvane.h"

using ylvane::CYvDetector;
using ylvane::MapScan;

namespace {

// A device-data block as a scan hands it over: word 0 names the device
// type, the words given follow; the scan's block is larger than any type's.
using Block = std::array<uint8_t, 32>;

Block MakeBlock(int32_t type, std::initializer_list<int32_t> words) {
  Block b{};
  std::memcpy(b.data(), &type, 4);
  size_t at = 4;
  for (int32_t w : words) {
    std::memcpy(b.data() + at, &w, 4);
    at += 4;
  }
  return b;
}

std::vector<uint8_t> Head(const Block& b) { return {b.begin(), b.begin() + 8}; }

YV_PORT_INFO PortInfo(int32_t type, const std::u16string& name, const std::u16string& port = u"",
                      uint32_t mask = 1, const std::u16string& description = u"") {
  YV_PORT_INFO info{};
  info.PortType = type;
  std::copy(name.begin(), name.end(), info.Name);
  std::copy(port.begin(), port.end(), info.PortName);
  info.TypeMask = mask;
  std::copy(description.begin(), description.end(), info.Description);
  return info;
}

// What a host's device callback was told.
struct Found {
  YV_PORT_INFO info;
  std::vector<uint8_t> data;  // the first 8 bytes; empty for no data
};

YV_BOOL YV_CALL Collect(const void* data, const YV_PORT_INFO* info, void* user) {
  const auto* b = static_cast<const uint8_t*>(data);
  static_cast<std::vector<Found>*>(user)->push_back(
      {*info, b ? std::vector<uint8_t>(b, b + 8) : std::vector<uint8_t>()});
  return 1;
}

YV_BOOL YV_CALL CollectOne(const void* data, const YV_PORT_INFO* info, void* user) {
  Collect(data, info, user);
  return 0;
}

std::vector<std::u16string> Names(const std::vector<Found>& found) {
  std::vector<std::u16string> out;
  for (const Found& f : found) out.push_back(Text(f.info.Name));
  return out;
}

class DeviceMaps : public ::testing::Test {
 protected:
  void SetUp() override {
    ylvane::SetSysRoot(fx_.SysRoot());
    ylvane::SetLockDir(fx_.LockDir());
    ylvane::SetFtLibraryPath("/nonexistent/libftd2xx.so");
    ASSERT_EQ(YV_Initialize(YV_INIT_NOWINDOW), S_OK);
    // The reader: FTDI devices of its product ids, and plain ports; two
    // more types with data blocks of other sizes.
    Register(0, 20, {0x0000, 0x1234, 0x1235, 0xFFFF}, u"Reader");
    Register(1, 8);
    Register(2, 16);
  }
  void TearDown() override {
    YV_Finalyze();  // releases the notifiers too
    ylvane::SetSysRoot("/sys");
    ylvane::SetLockDir("/var/lock");
    ylvane::SetFtLibraryPath("libftd2xx.so");
    FakeFt_ResetDevices(0, 0);
  }

  static void Register(uint32_t slot, int32_t dataSize, std::vector<uint16_t> pids = {},
                       const char16_t* filter = nullptr) {
    YV_SERIAL_DEVICE_TYPE t{};
    t.TypeIndex = slot;
    t.DevDataSize = dataSize;
    t.Pids = pids.empty() ? nullptr : pids.data();
    t.PidCount = static_cast<int32_t>(pids.size());
    t.DescFilter = filter;
    ASSERT_EQ(YV_RegSerialDevice(&t), S_OK);
  }

  // A notifier whose messages the test drains itself: without a library
  // window only YV_ProcessMessages delivers them, so a drain sees exactly
  // what has been queued.
  YV_HANDLE Watch(uint32_t flags, uint32_t interval, uint32_t ipMask = 0,
                  void* recipient = nullptr) {
    YV_NOTIFY_SETTINGS s{};
    s.Flags = flags | YV_NF_WNDSYNC;
    s.Callback = NotifyRecorder::Callback;
    s.UserData = &rec_;
    s.SerialTypeMask = 1;
    s.IpTypeMask = ipMask;
    s.Recipient = recipient;
    s.SerialScanInterval = interval;
    s.IpScanInterval = interval;
    YV_HANDLE h = nullptr;
    EXPECT_EQ(YV_FindNotification(&h, &s), S_OK);
    return h;
  }

  std::vector<Notice> Drain(YV_HANDLE h) {
    EXPECT_EQ(YV_ProcessMessages(h, NotifyRecorder::Callback, &rec_), S_OK);
    const std::vector<Notice> all = rec_.Got();
    std::vector<Notice> fresh(all.begin() + static_cast<std::ptrdiff_t>(seen_), all.end());
    seen_ = all.size();
    return fresh;
  }

  static CYvDetector* Detector() { return static_cast<CYvDetector*>(ylvane::g_pDetector); }
  static CYvDetector::State State() { return Detector()->GetState(); }

  static void WaitFilled() {
    ASSERT_TRUE(Eventually([] { return (State().mapsValid & 1) != 0; }));
  }
  // Waits for n more serial rescans: the last of them began after whatever
  // the test changed before the call.
  static void AfterSerialRescans(uint32_t n = 2) {
    const uint32_t from = State().serialRescans;
    ASSERT_TRUE(Eventually([&] { return State().serialRescans >= from + n; }));
  }
  // Changes the fixture while no rescan runs, so that none sees half of it.
  template <class F>
  static void WhilePaused(F change) {
    ylvane::LibRef lib;
    ylvane::IYvDetectorLink* d = ylvane::AcquireDetector(*lib.get());
    ylvane::DetectorPause pause;
    d->Pause(pause);
    EXPECT_TRUE(pause.acknowledged);
    change();
    d->Resume(pause);
    d->Release();
  }

  // The serial map as YV_EnumSerialDevices answers from it.
  static std::vector<Found> SerialMap(uint32_t mask = 1) {
    std::vector<Found> found;
    EXPECT_EQ(YV_EnumSerialDevices(mask, nullptr, 0, Collect, &found, nullptr, 0), S_OK);
    return found;
  }

  SysfsFixture fx_;
  NotifyRecorder rec_;
  size_t seen_ = 0;
};

void ExpectExist(const Notice& n, uint32_t kind, int32_t type, const std::u16string& name,
                 const std::u16string& port) {
  EXPECT_EQ(n.kind, kind);
  EXPECT_EQ(n.exist.Info.PortType, type);
  EXPECT_EQ(Text(n.exist.Info.Name), name);
  EXPECT_EQ(Text(n.exist.Info.PortName), port);
  EXPECT_EQ(n.exist.Info.TypeMask, 1u);
  EXPECT_EQ(n.exist.Info.Busy, 0);
  EXPECT_EQ(n.exist.DevData, nullptr);
}

// ---- Rescans by listing, the fixture changed between them ----------------

TEST_F(DeviceMaps, ListedRescansReportEachArrivalAndRemovalOnce) {
  fx_.AddUsb("1-1", 0x0403, 0x1234, "A5", "Reader", "ttyUSB0");
  fx_.AddSerialTty("ttyACM0");
  YV_HANDLE h = Watch(YV_NF_EXIST, 20);
  WaitFilled();
  AfterSerialRescans();
  EXPECT_TRUE(Drain(h).empty());  // what is there at the start is only learnt

  WhilePaused([&] { fx_.AddUsb("1-2", 0x0403, 0x1235, "B7", "Reader", "ttyUSB1"); });
  AfterSerialRescans();
  std::vector<Notice> got = Drain(h);
  ASSERT_EQ(got.size(), 1u);
  ExpectExist(got[0], YV_NMSG_ARRIVAL, YV_PORT_FT, u"B7", u"ttyUSB1");

  // Plugged into another port: nobody asked for changes, but the map
  // follows it, and its removal names the port it was last on.
  WhilePaused([&] {
    fx_.RemoveUsb("1-1");
    fx_.AddUsb("1-1", 0x0403, 0x1234, "A5", "Reader", "ttyUSB2");
  });
  AfterSerialRescans();
  EXPECT_TRUE(Drain(h).empty());

  WhilePaused([&] {
    fx_.RemoveUsb("1-1");
    fx_.RemoveTty("ttyACM0");
  });
  AfterSerialRescans();
  got = Drain(h);
  ASSERT_EQ(got.size(), 2u);  // in the map's order: plain ports first
  ExpectExist(got[0], YV_NMSG_REMOVAL, YV_PORT_COM, u"ttyACM0", u"");
  ExpectExist(got[1], YV_NMSG_REMOVAL, YV_PORT_FT, u"A5", u"ttyUSB2");
  EXPECT_EQ(Names(SerialMap()), std::vector<std::u16string>{u"B7"});
}

TEST_F(DeviceMaps, ListedRescansTellChangesWhenAsked) {
  fx_.AddUsb("1-1", 0x0403, 0x1234, "A5", "Reader", "ttyUSB0");
  fx_.AddSerialTty("ttyACM0");
  YV_HANDLE h = Watch(YV_NF_EXIST | YV_NF_CHANGE, 20);
  WaitFilled();
  AfterSerialRescans(3);
  EXPECT_TRUE(Drain(h).empty());  // a listing has no device data: nothing changed

  WhilePaused([&] {
    fx_.RemoveUsb("1-1");
    fx_.AddUsb("1-1", 0x0403, 0x1234, "A5", "Reader", "ttyUSB1");
  });
  AfterSerialRescans();
  std::vector<Notice> got = Drain(h);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].kind, YV_NMSG_CHANGE);
  EXPECT_EQ(got[0].change.ChangeMask, YV_CHG_PORTNAME);
  EXPECT_EQ(Text(got[0].change.NewInfo.Name), u"A5");
  EXPECT_EQ(Text(got[0].change.NewInfo.PortName), u"ttyUSB1");
  EXPECT_EQ(Text(got[0].change.OldInfo.Name), u"A5");
  EXPECT_EQ(Text(got[0].change.OldInfo.PortName), u"ttyUSB0");
  EXPECT_EQ(got[0].change.NewDevData, nullptr);
  EXPECT_EQ(got[0].change.OldDevData, nullptr);

  // Another program takes the port (a live lock file names this process).
  WhilePaused([&] { fx_.WriteLock("ttyACM0", std::to_string(getpid()) + "\n"); });
  AfterSerialRescans();
  got = Drain(h);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].change.ChangeMask, YV_CHG_BUSY);
  EXPECT_EQ(Text(got[0].change.NewInfo.Name), u"ttyACM0");
  EXPECT_EQ(got[0].change.NewInfo.Busy, 1);
  EXPECT_EQ(got[0].change.OldInfo.Busy, 0);
}

TEST_F(DeviceMaps, AFailedListingSweepsNothing) {
  ylvane::SetFtLibraryPath(FAKE_FTD2XX_PATH);
  FakeFt_ResetDevices(0, 0);
  fx_.AddSerialTty("ttyACM0");
  fx_.AddSerialTty("ttyACM1");
  YV_HANDLE h = Watch(YV_NF_EXIST, 20);
  WaitFilled();
  AfterSerialRescans();
  EXPECT_TRUE(Drain(h).empty());

  // The driver library's list fails: the rescans see nothing, which must
  // not be taken for every device gone.
  WhilePaused([&] {
    FakeFt_ResetDevices(1, 0);
    fx_.RemoveTty("ttyACM1");
  });
  AfterSerialRescans(3);
  EXPECT_TRUE(Drain(h).empty());
  EXPECT_EQ(Names(SerialMap()), (std::vector<std::u16string>{u"ttyACM0", u"ttyACM1"}));

  WhilePaused([&] { FakeFt_ResetDevices(0, 0); });
  AfterSerialRescans();
  const std::vector<Notice> got = Drain(h);
  ASSERT_EQ(got.size(), 1u);
  ExpectExist(got[0], YV_NMSG_REMOVAL, YV_PORT_COM, u"ttyACM1", u"");
}

// What a network rescan tells the discovery after each broadcast: enough
// with an empty map, once more while a known device has not answered.
TEST_F(DeviceMaps, TheDiscoveryIsRepeatedOnlyForKnownDevicesNotSeenYet) {
  Watch(YV_NF_EXIST, 60000);  // no network type watched: no network rescans of its own
  WaitFilled();
  CYvDetector* d = Detector();
  CYvDetector::RescanContext ctx{d, nullptr};
  d->MarkAllUnseen(nullptr, 0, true);
  EXPECT_EQ(CYvDetector::AllIpDevicesSeen(nullptr, nullptr, &ctx), 1);
  d->SweepUnseen(true);

  const YV_PORT_INFO dev = PortInfo(YV_PORT_IP, u"10.0.0.7:4000");
  EXPECT_EQ(CYvDetector::OnIpDeviceScanned(nullptr, &dev, &ctx), 1);
  d->MarkAllUnseen(nullptr, 0, true);  // the next rescan begins
  EXPECT_EQ(CYvDetector::AllIpDevicesSeen(nullptr, nullptr, &ctx), 0);
  EXPECT_EQ(CYvDetector::OnIpDeviceScanned(nullptr, &dev, &ctx), 1);
  EXPECT_EQ(CYvDetector::AllIpDevicesSeen(nullptr, nullptr, &ctx), 1);
}

// ---- The library's scans and the maps -----------------------------------

TEST_F(DeviceMaps, ScansAnswerFromTheMapWithoutRescan) {
  fx_.AddUsb("1-1", 0x0403, 0x1234, "A5", "Reader", "ttyUSB0");
  fx_.AddSerialTty("ttyACM0");
  YV_HANDLE h = Watch(YV_NF_EXIST, 60000);
  WaitFilled();
  // A device that a probe found, with its data.
  const Block probed = MakeBlock(0, {11, 12, 13, 14});
  YV_PORT_INFO x9 = PortInfo(YV_PORT_COM, u"ttyX9", u"", 1, u"Probed");
  x9.Busy = YV_BUSY_INUSE;
  Detector()->UpdateDevice(probed.data(), nullptr, &x9, false);

  std::vector<Found> all = SerialMap();
  ASSERT_EQ(Names(all), (std::vector<std::u16string>{u"ttyACM0", u"ttyX9", u"A5"}));
  EXPECT_TRUE(all[0].data.empty());  // only listed: no data
  EXPECT_EQ(all[1].data, Head(probed));
  EXPECT_EQ(all[1].info.Busy, 1);
  EXPECT_EQ(Text(all[1].info.Description), u"Probed");
  EXPECT_EQ(all[2].info.PortType, YV_PORT_FT);
  EXPECT_EQ(Text(all[2].info.PortName), u"ttyUSB0");
  EXPECT_TRUE(SerialMap(2).empty());

  // A port list: in its order, under the names it gives; ports the map
  // does not know are left out.
  const YV_PORT_ID list[] = {{YV_PORT_FT, u"A5"}, {YV_PORT_COM, u"ttyQ"}, {YV_PORT_COM, u"ttyACM0"}};
  std::vector<Found> listed;
  EXPECT_EQ(YV_EnumSerialDevices(1, list, 3, Collect, &listed, nullptr, 0), S_OK);
  EXPECT_EQ(Names(listed), (std::vector<std::u16string>{u"A5", u"ttyACM0"}));
  std::vector<Found> one;
  EXPECT_EQ(YV_EnumSerialDevices(1, nullptr, 0, CollectOne, &one, nullptr, 0), YV_S_CANCELED);
  EXPECT_EQ(one.size(), 1u);
  const std::u16string longName(32, u'L');
  const YV_PORT_ID tooLong[] = {{YV_PORT_COM, longName.c_str()}};
  EXPECT_EQ(YV_EnumSerialDevices(1, tooLong, 1, Collect, &one, nullptr, 0), E_INVALIDARG);

  uint8_t buf[24];
  std::memset(buf, 0xEE, sizeof buf);
  YV_PORT_INFO info{};
  EXPECT_EQ(YV_FindSerialDevice(1, nullptr, 0, buf, 24, &info, nullptr, 0), S_OK);
  EXPECT_EQ(Text(info.Name), u"ttyACM0");  // the first in map order, without data
  EXPECT_EQ(std::count(buf, buf + 24, 0xEE), 24);
  const YV_PORT_ID onlyX9[] = {{YV_PORT_COM, u"ttyX9"}};
  EXPECT_EQ(YV_FindSerialDevice(1, onlyX9, 1, buf, 16, &info, nullptr, 0), S_OK);
  EXPECT_EQ(Text(info.Name), u"ttyX9");
  EXPECT_EQ(std::memcmp(buf, probed.data(), 16), 0);  // the smaller of the two sizes
  EXPECT_EQ(std::count(buf + 16, buf + 24, 0xEE), 8);
  EXPECT_EQ(YV_FindSerialDevice(2, nullptr, 0, buf, 16, &info, nullptr, 0), YV_S_NOT_FOUND);

  // With Rescan the map is not asked: the probe is, and no type registered
  // here can recognise a device. Finding does not touch the map.
  const YV_SCAN_PARAMS quick{100, 1, 0, 100, 0};
  EXPECT_EQ(YV_FindSerialDevice(1, nullptr, 0, buf, 16, &info, &quick, 1), YV_S_NOT_FOUND);
  EXPECT_EQ(YV_FindSerialDevice(1, onlyX9, 1, buf, 16, &info, &quick, 1), YV_S_NOT_FOUND);
  EXPECT_EQ(Names(SerialMap()), (std::vector<std::u16string>{u"ttyACM0", u"ttyX9", u"A5"}));
  const std::vector<Notice> got = Drain(h);
  ASSERT_EQ(got.size(), 1u);  // the arrival of the probed device only
  EXPECT_EQ(got[0].kind, YV_NMSG_ARRIVAL);
  EXPECT_EQ(got[0].data, Head(probed));
}

// A host callback of an answer from the map may wait for another thread
// that uses the library: the answer must not hold the library's lock then.
TEST_F(DeviceMaps, AnAnswerFromTheMapHoldsNoLockDuringTheCallback) {
  fx_.AddSerialTty("ttyACM0");
  Watch(YV_NF_EXIST, 60000);
  WaitFilled();
  auto cb = [](const void*, const YV_PORT_INFO*, void*) YV_CALL -> YV_BOOL {
    HRESULT inner = E_FAIL;
    std::thread other([&] {
      uint8_t d[16];
      inner = YV_FindSerialDevice(1, nullptr, 0, d, 16, nullptr, nullptr, 0);
    });
    other.join();
    return inner == S_OK;
  };
  EXPECT_EQ(YV_EnumSerialDevices(1, nullptr, 0, cb, nullptr, nullptr, 0), S_OK);
}

TEST_F(DeviceMaps, ARescanThroughTheMapTellsTheHostOfItsOwnTypes) {
  YV_HANDLE h = Watch(YV_NF_EXIST, 60000);
  WaitFilled();
  const YV_PORT_INFO ft = PortInfo(YV_PORT_FT, u"A5", u"ttyUSB0");
  Detector()->UpdateDevice(nullptr, nullptr, &ft, false);
  std::vector<Found> told;
  MapScan sink(*Detector(), false, /*typeMask=*/1u << 1, Collect, &told);

  const Block asked = MakeBlock(1, {5});
  const YV_PORT_INFO m1 = PortInfo(YV_PORT_COM, u"ttyM1");
  EXPECT_EQ(MapScan::OnDevice(asked.data(), &m1, &sink), 1);
  const Block other = MakeBlock(2, {5});
  const YV_PORT_INFO m2 = PortInfo(YV_PORT_COM, u"ttyM2");
  EXPECT_EQ(MapScan::OnDevice(other.data(), &m2, &sink), 1);
  // Recognised, though its block carries no data the map could keep.
  const Block empty = MakeBlock(1, {0});
  const YV_PORT_INFO m3 = PortInfo(YV_PORT_COM, u"ttyM3");
  EXPECT_EQ(MapScan::OnDevice(empty.data(), &m3, &sink), 1);
  // A port of the host's list that is the known FTDI device's COM name.
  const Block viaCom = MakeBlock(1, {6});
  YV_PORT_INFO byCom = PortInfo(YV_PORT_COM, u"ttyUSB0");
  byCom.Busy = YV_BUSY_FROM_LIST;
  EXPECT_EQ(MapScan::OnDevice(viaCom.data(), &byCom, &sink), 1);

  ASSERT_EQ(Names(told), (std::vector<std::u16string>{u"ttyM1", u"ttyM3", u"ttyUSB0"}));
  EXPECT_EQ(told[0].data, Head(asked));
  EXPECT_EQ(told[1].data, Head(empty));
  EXPECT_EQ(told[2].data, Head(viaCom));
  EXPECT_EQ(Names(SerialMap(0xFFFFFFFF)),
            (std::vector<std::u16string>{u"ttyM1", u"ttyM2", u"ttyM3", u"A5"}));
  EXPECT_EQ(Drain(h).size(), 4u);  // A5 and the three ports arrived, nothing for ttyUSB0

  MapScan stopping(*Detector(), false, 1u << 1, CollectOne, &told);
  EXPECT_EQ(MapScan::OnDevice(asked.data(), &m1, &stopping), 0);
}

// ---- The diff operations, driven directly --------------------------------

TEST_F(DeviceMaps, APortListMarksOnlyTheListedDevices) {
  YV_HANDLE h = Watch(YV_NF_EXIST, 60000);
  WaitFilled();
  CYvDetector* d = Detector();
  for (const char16_t* name : {u"ttyA", u"ttyB", u"ttyC"}) {
    const YV_PORT_INFO info = PortInfo(YV_PORT_COM, name);
    d->UpdateDevice(nullptr, nullptr, &info, false);
  }
  const YV_PORT_INFO ft = PortInfo(YV_PORT_FT, u"A5", u"ttyUSB0");
  d->UpdateDevice(nullptr, nullptr, &ft, false);
  EXPECT_EQ(Drain(h).size(), 4u);

  // A scan of every port that failed left every entry marked; a scan of
  // some ports must not sweep the others for it.
  d->MarkAllUnseen(nullptr, 0, false);
  const YV_PORT_ID list[] = {
      {YV_PORT_COM, u"ttyA"}, {YV_PORT_COM, u"ttyC"}, {YV_PORT_COM, u"ttyUSB0"}, {YV_PORT_FT, u"Z"}};
  d->MarkAllUnseen(list, 4, false);
  YV_PORT_INFO byCom = PortInfo(YV_PORT_COM, u"ttyUSB0");
  byCom.Busy = YV_BUSY_FROM_LIST;
  d->UpdateDevice(nullptr, nullptr, &byCom, false);  // the FTDI device, not a new port
  d->SweepUnseen(false, /*whole=*/false);

  const std::vector<Notice> got = Drain(h);
  ASSERT_EQ(got.size(), 2u);
  ExpectExist(got[0], YV_NMSG_REMOVAL, YV_PORT_COM, u"ttyA", u"");
  ExpectExist(got[1], YV_NMSG_REMOVAL, YV_PORT_COM, u"ttyC", u"");
  EXPECT_EQ(Names(SerialMap()), (std::vector<std::u16string>{u"ttyB", u"A5"}));
}

TEST_F(DeviceMaps, AMapIsValidOnlyAfterASweepOverEveryDevice) {
  // The host forwards device events: no periodic rescans, the map stays
  // as no sweep has filled it.
  YV_HANDLE h = Watch(YV_NF_EXIST, 20, 0, /*recipient=*/reinterpret_cast<void*>(1));
  EXPECT_TRUE(Eventually([] { return State().pending == 0; }));
  EXPECT_FALSE(State().serialScan);
  CYvDetector* d = Detector();
  const YV_PORT_INFO stale = PortInfo(YV_PORT_COM, u"ttyOld");
  d->UpdateDevice(nullptr, nullptr, &stale, false);

  const YV_PORT_ID some[] = {{YV_PORT_COM, u"ttyA"}};
  d->MarkAllUnseen(some, 1, false);
  const YV_PORT_INFO a = PortInfo(YV_PORT_COM, u"ttyA");
  d->UpdateDevice(nullptr, nullptr, &a, false);
  d->SweepUnseen(false, /*whole=*/false);
  EXPECT_EQ(Names(SerialMap()), std::vector<std::u16string>{u"ttyA"});
  EXPECT_EQ(State().mapsValid & 1, 0u);

  d->MarkAllUnseen(nullptr, 0, false);
  const YV_PORT_INFO b = PortInfo(YV_PORT_COM, u"ttyB");
  d->UpdateDevice(nullptr, nullptr, &b, false);
  d->SweepUnseen(false);
  EXPECT_EQ(Names(SerialMap()), std::vector<std::u16string>{u"ttyB"});
  EXPECT_EQ(State().mapsValid & 1, 1u);
  EXPECT_TRUE(Drain(h).empty());  // filling the map tells nothing

  const YV_PORT_INFO c = PortInfo(YV_PORT_COM, u"ttyC");
  d->UpdateDevice(nullptr, nullptr, &c, false);
  const std::vector<Notice> got = Drain(h);
  ASSERT_EQ(got.size(), 1u);
  ExpectExist(got[0], YV_NMSG_ARRIVAL, YV_PORT_COM, u"ttyC", u"");
}

// One device seen twice: what the second sighting changes, and the mask of
// the change message it gives.
struct DiffCase {
  const char* name;
  std::optional<Block> first, second;
  void (*edit)(YV_PORT_INFO&);  // applied to the second sighting's info
  uint32_t mask;
};

void PrintTo(const DiffCase& c, std::ostream* os) { *os << c.name; }

class DeviceDiff : public DeviceMaps, public ::testing::WithParamInterface<DiffCase> {};

TEST_P(DeviceDiff, ChangeMask) {
  const DiffCase& c = GetParam();
  YV_HANDLE h = Watch(YV_NF_EXIST | YV_NF_CHANGE, 60000);
  WaitFilled();
  const YV_PORT_INFO before = PortInfo(YV_PORT_COM, u"ttyT1", u"ttyUSB0", 1, u"Reader");
  YV_PORT_INFO after = before;
  if (c.edit) c.edit(after);
  Detector()->UpdateDevice(c.first ? c.first->data() : nullptr, nullptr, &before, false);
  ASSERT_EQ(Drain(h).size(), 1u);  // its arrival

  Detector()->UpdateDevice(c.second ? c.second->data() : nullptr, nullptr, &after, false);
  const std::vector<Notice> got = Drain(h);
  if (c.mask == 0) {
    EXPECT_TRUE(got.empty());
    return;
  }
  ASSERT_EQ(got.size(), 1u);
  const YV_CHANGE_NMSG& m = got[0].change;
  EXPECT_EQ(m.ChangeMask, c.mask);
  EXPECT_EQ(std::memcmp(&m.NewInfo, &after, sizeof after), 0);
  EXPECT_EQ(std::memcmp(&m.OldInfo, &before, sizeof before), 0);  // each changed field as it was
  const std::vector<uint8_t> oldData = c.first ? Head(*c.first) : std::vector<uint8_t>();
  EXPECT_EQ(got[0].oldData, oldData);
  EXPECT_EQ(got[0].data, c.second ? Head(*c.second) : oldData);
}

INSTANTIATE_TEST_SUITE_P(
    Sightings, DeviceDiff,
    ::testing::Values(
        DiffCase{"SameData", MakeBlock(0, {1, 2, 3, 4}), MakeBlock(0, {1, 2, 3, 4}), nullptr, 0},
        DiffCase{"Word1", MakeBlock(1, {1}), MakeBlock(1, {9}), nullptr, YV_CHG_DATA1},
        DiffCase{"Word3", MakeBlock(2, {1, 2, 3}), MakeBlock(2, {1, 2, 9}), nullptr, YV_CHG_DATA3},
        // Blocks longer than four words: any byte that differs counts for the rest.
        DiffCase{"Word2OfALongBlock", MakeBlock(0, {1, 2, 3, 4}), MakeBlock(0, {1, 9, 3, 4}),
                 nullptr, YV_CHG_DATA2 | YV_CHG_DATA_REST},
        DiffCase{"PastTheFourthWord", MakeBlock(0, {1, 2, 3, 4}), MakeBlock(0, {1, 2, 3, 5}),
                 nullptr, YV_CHG_DATA_REST},
        DiffCase{"AnotherType", MakeBlock(1, {1}), MakeBlock(2, {1}), nullptr, 0x780},
        DiffCase{"FirstDataOfAListedDevice", std::nullopt, MakeBlock(1, {1}), nullptr, 0x780},
        DiffCase{"NoDataKeepsTheCopy", MakeBlock(1, {1}), std::nullopt, nullptr, 0},
        DiffCase{"SecondWordZeroIsNoData", MakeBlock(1, {1}), MakeBlock(1, {0}), nullptr, 0},
        DiffCase{"UnregisteredTypeIsNoData", MakeBlock(1, {1}), MakeBlock(9, {1}), nullptr, 0},
        DiffCase{"Busy", std::nullopt, std::nullopt, [](YV_PORT_INFO& i) { i.Busy = 1; },
                 YV_CHG_BUSY},
        DiffCase{"PortName", std::nullopt, std::nullopt,
                 [](YV_PORT_INFO& i) { i.PortName[6] = u'7'; }, YV_CHG_PORTNAME},
        DiffCase{"TypeMask", std::nullopt, std::nullopt, [](YV_PORT_INFO& i) { i.TypeMask = 3; },
                 YV_CHG_TYPEMASK},
        DiffCase{"Description", std::nullopt, std::nullopt,
                 [](YV_PORT_INFO& i) { i.Description[0] = u'r'; }, YV_CHG_DESCRIPTION},
        DiffCase{"PortNameAndData", MakeBlock(1, {1}), MakeBlock(1, {2}),
                 [](YV_PORT_INFO& i) { i.PortName[6] = u'7'; },
                 YV_CHG_PORTNAME | YV_CHG_DATA1}),
    [](const auto& info) { return std::string(info.param.name); });

// A type registered again with another data size: the entry takes a block
// of the new size instead of being written past its end.
TEST_F(DeviceMaps, ATypeRegisteredAgainWithAnotherSizeGetsANewBlock) {
  YV_HANDLE h = Watch(YV_NF_EXIST | YV_NF_CHANGE, 60000);
  WaitFilled();
  const YV_PORT_INFO info = PortInfo(YV_PORT_COM, u"ttyR");
  Register(3, 8);
  Detector()->UpdateDevice(MakeBlock(3, {1}).data(), nullptr, &info, false);
  ASSERT_EQ(Drain(h).size(), 1u);

  Register(3, 20);
  const Block wide = MakeBlock(3, {1, 2, 3, 4});
  std::vector<uint8_t> copy;
  Detector()->UpdateDevice(wide.data(), &copy, &info, false);
  EXPECT_EQ(copy, std::vector<uint8_t>(wide.begin(), wide.begin() + 20));
  std::vector<Notice> got = Drain(h);
  ASSERT_EQ(got.size(), 1u);
  // Words the old block did not reach count as changed, and so does the size.
  EXPECT_EQ(got[0].change.ChangeMask, YV_CHG_DATA2 | YV_CHG_DATA3 | YV_CHG_DATA_REST);

  Register(3, 8);
  Detector()->UpdateDevice(wide.data(), &copy, &info, false);
  EXPECT_EQ(copy, std::vector<uint8_t>(wide.begin(), wide.begin() + 8));
  got = Drain(h);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].change.ChangeMask, YV_CHG_DATA_REST);
}

// ---- Probing rescans: devices played on real ptys -------------------------

const std::string kAsk = "ID?\r";

// The probed types' callback is called on the scanning thread; this is how
// it reaches the test.
struct ProbeTypes {
  CYvDetector* detector = nullptr;
  // Once: the next reply that would be recognised is left undecided until
  // some pause of the detector has been asked for.
  std::atomic<bool> holdUntilPause{false};
  std::atomic<bool> holding{false};
  std::atomic<int> calls{0};
  std::atomic<bool> waiting{false};  // a device that is not ready was asked during the wait
};
ProbeTypes* g_types = nullptr;

// Type 0 is a device answering "YV-<id>\r", type 1 one answering
// "XY-<id>\r"; the id (four characters) goes into the block after the type.
// "YV-WAIT\r" is a device that is not ready yet: the port keeps waiting.
YV_BOOL YV_CALL JudgeReply(const void* reply, int32_t size, HRESULT* status, void* data,
                           YV_PORT_INFO* info, YV_ENUM_DEVICES_CALLBACK, void*) {
  ++g_types->calls;
  if (!reply) return 0;
  int32_t slot;
  std::memcpy(&slot, data, sizeof slot);
  const std::string r(static_cast<const char*>(reply), static_cast<size_t>(size));
  const std::string prefix = slot == 0 ? "YV-" : "XY-";
  const size_t end = r.find('\r');
  const size_t n = std::min(r.size(), prefix.size());
  if (end == std::string::npos) {
    if (r.compare(0, n, prefix, 0, n) != 0) *status = YV_S_NOT_FOUND;
    return 0;
  }
  if (r.compare(0, 3, prefix) != 0 || end <= 3) {
    *status = YV_S_NOT_FOUND;
    return 0;
  }
  if (r == "YV-WAIT\r") {
    if (*status == S_OK) g_types->waiting = true;
    return 0;
  }
  // Held only during the wait, where the scan can still be aborted.
  if (*status == S_OK && g_types->holdUntilPause.exchange(false)) {
    g_types->holding = true;
    CYvDetector* d = g_types->detector;
    EXPECT_TRUE(Eventually([d] { return d->GetState().pauseWaiters > 0; }, 10000));
    return 0;  // Status as it came: undecided
  }
  std::memcpy(static_cast<uint8_t*>(data) + 4, r.data() + 3, std::min<size_t>(end - 3, 4));
  const std::u16string desc = u"Reader";
  std::copy(desc.begin(), desc.end(), info->Description);
  return 1;
}

// The first 8 bytes of a block as the types above fill it.
std::vector<uint8_t> Data(int32_t slot, const std::string& id) {
  std::vector<uint8_t> out(8, 0);
  std::memcpy(out.data(), &slot, 4);
  std::memcpy(out.data() + 4, id.data(), std::min<size_t>(id.size(), 4));
  return out;
}

std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// Plain serial ports of the fixture tree whose names lead through links in
// /dev to ptys on which the devices are played. The devices live as long
// as the fixture: the detector, which probes until it is stopped, must never
// find a pty number reused by someone else behind a link.
class ProbedDeviceMaps : public DeviceMaps {
 protected:
  void SetUp() override {
    DeviceMaps::SetUp();
    if (HasFatalFailure()) return;
    if (access("/dev", W_OK) != 0) GTEST_SKIP() << "needs links in /dev (run as root)";
    g_types = &types_;
    RegisterProbed(0);
    RegisterProbed(1);
  }
  void TearDown() override {
    DeviceMaps::TearDown();  // the detector stops first
    for (const std::string& l : links_) unlink(("/dev/" + l).c_str());
    g_types = nullptr;
  }

  static void RegisterProbed(uint32_t slot) {
    const uint16_t plainPorts[] = {0x0000};
    YV_SERIAL_DEVICE_TYPE t{};
    t.TypeIndex = slot;
    t.Request = kAsk.data();
    t.RequestSize = static_cast<int32_t>(kAsk.size());
    t.Callback = JudgeReply;
    t.DevDataSize = 16;
    t.Pids = plainPorts;
    t.PidCount = 1;
    t.BaudRate = 9600;
    t.EvChar = '\r';
    t.StopBits = 2;
    ASSERT_EQ(YV_RegSerialDevice(&t), S_OK);
  }

  static std::string PortName(const std::string& suffix) {
    return "ttyYvMaps" + std::to_string(getpid()) + suffix;
  }

  // A device answering reply to the request on a new pty, plugged in as
  // the port name (an earlier device there is unplugged, not destroyed).
  PtyDevice& Plug(const std::string& name, const std::string& reply) {
    devices_.push_back(std::make_unique<PtyDevice>(PtyDevice::Answers{{kAsk, {{0, reply}}}}));
    PtyDevice& d = *devices_.back();
    EXPECT_TRUE(d.Ok());
    const std::string link = "/dev/" + name;
    unlink(link.c_str());
    EXPECT_EQ(symlink(d.Path().c_str(), link.c_str()), 0);
    if (std::find(links_.begin(), links_.end(), name) == links_.end()) links_.push_back(name);
    fx_.AddSerialTty(name);
    return d;
  }
  void Unplug(const std::string& name) {
    fx_.RemoveTty(name);
    unlink(("/dev/" + name).c_str());
  }

  ProbeTypes types_;
  std::vector<std::string> links_;
  std::vector<std::unique_ptr<PtyDevice>> devices_;
};

TEST_F(ProbedDeviceMaps, ProbingRescansTellArrivalsDataChangesAndRemovals) {
  YV_HANDLE h = Watch(YV_NF_EXIST | YV_NF_CHANGE | YV_NF_PROBE, 20);
  WaitFilled();
  const std::string port = PortName("a");
  WhilePaused([&] { Plug(port, "YV-0001\r"); });
  AfterSerialRescans();
  std::vector<Notice> got = Drain(h);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].kind, YV_NMSG_ARRIVAL);
  EXPECT_EQ(got[0].exist.Info.PortType, YV_PORT_COM);
  EXPECT_EQ(Text(got[0].exist.Info.Name), U16(port));
  EXPECT_EQ(got[0].exist.Info.TypeMask, 3u);  // both types take plain ports
  EXPECT_EQ(Text(got[0].exist.Info.Description), u"Reader");
  EXPECT_EQ(got[0].data, Data(0, "0001"));

  // Another device of the same type on the same port: only its data differ.
  WhilePaused([&] { Plug(port, "YV-0002\r"); });
  AfterSerialRescans();
  got = Drain(h);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].kind, YV_NMSG_CHANGE);
  EXPECT_EQ(got[0].change.ChangeMask, YV_CHG_DATA1);
  EXPECT_EQ(Text(got[0].change.NewInfo.Name), U16(port));
  EXPECT_EQ(got[0].data, Data(0, "0002"));
  EXPECT_EQ(got[0].oldData, Data(0, "0001"));

  WhilePaused([&] { Unplug(port); });
  AfterSerialRescans();
  got = Drain(h);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].kind, YV_NMSG_REMOVAL);
  EXPECT_EQ(Text(got[0].exist.Info.Name), U16(port));
  EXPECT_EQ(got[0].data, Data(0, "0002"));
}

// YV_Open pauses the detector: a probing rescan under way is aborted, and
// a device it had not reached yet, or one that went meanwhile, is not taken
// for gone. The next rescan that finishes tells what is really gone.
TEST_F(ProbedDeviceMaps, AProbingRescanAbortedByAPauseSweepsNothing) {
  const std::string a = PortName("a"), b = PortName("b");
  Plug(a, "YV-0001\r");
  Plug(b, "YV-0002\r");
  YV_HANDLE h = Watch(YV_NF_EXIST | YV_NF_PROBE, 20);
  types_.detector = Detector();
  WaitFilled();
  ASSERT_EQ(Names(SerialMap()), (std::vector<std::u16string>{U16(a), U16(b)}));
  EXPECT_TRUE(Drain(h).empty());

  WhilePaused([&] {
    types_.holdUntilPause = true;
    Unplug(b);
  });
  ASSERT_TRUE(Eventually([&] { return types_.holding.load(); }));
  TestPty other;
  ASSERT_TRUE(other.Ok());
  YV_HANDLE port = nullptr;
  EXPECT_EQ(YV_Open(&port, other.Name(), YV_PORT_COM, 9600, '\r', 2), S_OK);
  EXPECT_TRUE(Drain(h).empty());
  EXPECT_EQ(Names(SerialMap()), (std::vector<std::u16string>{U16(a), U16(b)}));
  EXPECT_EQ(YV_CloseHandle(port), S_OK);

  AfterSerialRescans();
  const std::vector<Notice> got = Drain(h);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].kind, YV_NMSG_REMOVAL);
  EXPECT_EQ(Text(got[0].exist.Info.Name), U16(b));
  EXPECT_EQ(got[0].data, Data(0, "0002"));
}

// A host's rescan through the map while the detector only lists: every
// registered type is probed and kept in the map, the host hears of its own
// types, and a scan the host cancels sweeps nothing.
TEST_F(ProbedDeviceMaps, AHostsRescanProbesThroughTheMap) {
  const std::string a = PortName("a"), b = PortName("b"), c = PortName("c");
  Plug(a, "YV-0001\r");
  Plug(b, "XY-0002\r");
  Plug(c, "YV-0003\r");
  YV_HANDLE h = Watch(YV_NF_EXIST, 60000);  // one listing rescan, at the start
  WaitFilled();
  std::vector<Found> map = SerialMap(0xFFFFFFFF);
  ASSERT_EQ(Names(map), (std::vector<std::u16string>{U16(a), U16(b), U16(c)}));
  for (const Found& f : map) EXPECT_TRUE(f.data.empty());  // listed, not probed

  const YV_SCAN_PARAMS params{2000, 2, 0, 2000, 0};  // ends as soon as every port is decided
  WhilePaused([&] { Unplug(c); });
  std::vector<Found> told;
  EXPECT_EQ(YV_EnumSerialDevices(1, nullptr, 0, Collect, &told, &params, 1), S_OK);
  ASSERT_EQ(Names(told), std::vector<std::u16string>{U16(a)});
  EXPECT_EQ(told[0].data, Data(0, "0001"));
  map = SerialMap(0xFFFFFFFF);
  ASSERT_EQ(Names(map), (std::vector<std::u16string>{U16(a), U16(b)}));
  EXPECT_EQ(map[0].data, Data(0, "0001"));
  EXPECT_EQ(map[1].data, Data(1, "0002"));
  std::vector<Notice> got = Drain(h);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].kind, YV_NMSG_REMOVAL);
  EXPECT_EQ(Text(got[0].exist.Info.Name), U16(c));

  WhilePaused([&] { Unplug(b); });
  std::vector<Found> one;
  EXPECT_EQ(YV_EnumSerialDevices(1, nullptr, 0, CollectOne, &one, &params, 1), YV_S_CANCELED);
  EXPECT_EQ(Names(one), std::vector<std::u16string>{U16(a)});
  EXPECT_TRUE(Drain(h).empty());
  EXPECT_EQ(Names(SerialMap(0xFFFFFFFF)), (std::vector<std::u16string>{U16(a), U16(b)}));
}

// The last notifier goes while a probing rescan waits for a device that is
// not ready: the rescan ends on its abort instead of waiting the reply time
// out, so the reply is not asked about again after the wait.
TEST_F(ProbedDeviceMaps, StoppingTheDetectorEndsAProbingRescan) {
  const std::string a = PortName("a");
  PtyDevice& d = Plug(a, "YV-WAIT\r");
  YV_HANDLE h = Watch(YV_NF_EXIST | YV_NF_PROBE, 20);
  ASSERT_TRUE(Eventually([&] { return types_.waiting.load(); }));
  const int calls = types_.calls;
  EXPECT_EQ(YV_CloseHandle(h), S_OK);
  EXPECT_EQ(ylvane::g_pDetector, nullptr);
  EXPECT_EQ(types_.calls, calls);
  YV_HANDLE port = nullptr;
  EXPECT_EQ(YV_Open(&port, d.Name(), YV_PORT_COM, 9600, '\r', 2), S_OK);  // given back
  if (port) YV_CloseHandle(port);
}

// A host's type callback that makes the last YV_Finalyze from inside one of
// the worker's rescans, and then judges the device as the case says. The
// rescan ends as soon as the callback returns: no callback of the host
// comes after it, and the worker goes without touching the library it has
// lost (which the sanitizer build would see).
struct FinalyzingType {
  bool recognise = false;
  std::atomic<bool> finalyzed{false};
  std::atomic<int> callsAfter{0};
};
FinalyzingType* g_finalyzing = nullptr;

YV_BOOL YV_CALL FinalyzeFromTypeCallback(const void* reply, int32_t, HRESULT*, void* data,
                                         YV_PORT_INFO*, YV_ENUM_DEVICES_CALLBACK, void*) {
  FinalyzingType& f = *g_finalyzing;
  if (f.finalyzed) {
    ++f.callsAfter;
    return 0;
  }
  if (!reply) return 0;
  YV_Finalyze();
  f.finalyzed = true;
  std::memcpy(static_cast<uint8_t*>(data) + 4, "0001", 4);
  return f.recognise ? 1 : 0;
}

std::string RecognisesOrNot(const ::testing::TestParamInfo<bool>& info) {
  return info.param ? "Recognises" : "DoesNotRecognise";
}

class ProbedFinalyze : public ProbedDeviceMaps, public ::testing::WithParamInterface<bool> {};

TEST_P(ProbedFinalyze, FromATypeCallbackEndsTheRescan) {
  // Two devices that answer at once, so the rescan has more to ask about
  // after the callback that finalises.
  Plug(PortName("a"), "YV-0001\r");
  Plug(PortName("b"), "YV-0002\r");
  FinalyzingType f;
  f.recognise = GetParam();
  g_finalyzing = &f;
  YV_SERIAL_DEVICE_TYPE t{};
  t.TypeIndex = 0;
  t.Request = kAsk.data();
  t.RequestSize = static_cast<int32_t>(kAsk.size());
  t.Callback = FinalyzeFromTypeCallback;
  t.DevDataSize = 16;
  t.BaudRate = 9600;
  t.EvChar = '\r';
  t.StopBits = 2;
  ASSERT_EQ(YV_RegSerialDevice(&t), S_OK);
  YV_SERIAL_DEVICE_TYPE unprobed{};  // the fixture's second type: no callback, never asked
  unprobed.TypeIndex = 1;
  ASSERT_EQ(YV_RegSerialDevice(&unprobed), S_OK);
  const int before = ThreadCount();
  Watch(YV_NF_EXIST | YV_NF_CHANGE | YV_NF_PROBE, 20);  // released by the callback's YV_Finalyze
  ASSERT_TRUE(Eventually([&] { return f.finalyzed.load(); }, 10000));
  EXPECT_TRUE(Eventually([&] { return ThreadCount() == before; }));
  EXPECT_EQ(f.callsAfter, 0);
  EXPECT_EQ(ylvane::g_pDetector, nullptr);
  EXPECT_EQ(ylvane::CYvLib::Acquire(), nullptr);
  g_finalyzing = nullptr;
  ASSERT_EQ(YV_Initialize(YV_INIT_NOWINDOW), S_OK);  // for TearDown
}

INSTANTIATE_TEST_SUITE_P(Host, ProbedFinalyze, ::testing::Bool(), RecognisesOrNot);

// ---- Network rescans on a network of the test's own ------------------------

namespace pn = private_network;

constexpr uint16_t kUdpPort = 40021;

// "YVNET-<id>" is a network device; the id goes into the block after the type.
YV_BOOL YV_CALL JudgeDatagram(const void* reply, int32_t size, HRESULT*, void* data,
                              YV_PORT_INFO*, YV_ENUM_DEVICES_CALLBACK, void*) {
  const std::string r(static_cast<const char*>(reply), static_cast<size_t>(size));
  if (r.compare(0, 6, "YVNET-") != 0) return 0;
  std::memcpy(static_cast<uint8_t*>(data) + 4, r.data() + 6, std::min<size_t>(r.size() - 6, 4));
  return 1;
}

// A device on the far side that answers "YVNET-0001" while told to. For
// each request it notes how many network rescans had finished when it came:
// the rescan that sent it (a rescan waits a second for replies after each
// broadcast, so it is still under way when its request arrives).
class FarDevice {
 public:
  FarDevice(int fd, CYvDetector* detector, bool answer)
      : answer(answer), fd_(fd), detector_(detector), stop_(eventfd(0, EFD_CLOEXEC)) {
    thread_ = std::thread([this] { Loop(); });
  }
  ~FarDevice() {
    Stop();
    close(stop_);
  }
  void Stop() {
    if (!thread_.joinable()) return;
    uint64_t one = 1;
    if (write(stop_, &one, sizeof one) != sizeof one) {
    }
    thread_.join();
  }
  // The requests heard from each rescan, by its number.
  std::map<uint32_t, int> PerRescan() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return perRescan_;
  }
  int HeardSilently() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return silent_;
  }

  std::atomic<bool> answer;

 private:
  void Loop() {
    for (;;) {
      pollfd fds[2] = {{stop_, POLLIN, 0}, {fd_, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
      if (fds[0].revents) return;
      if (!(fds[1].revents & POLLIN)) continue;
      char buf[256];
      sockaddr_in from{};
      socklen_t len = sizeof from;
      if (recvfrom(fd_, buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &len) <
          0)
        continue;
      const uint32_t rescan = detector_ ? detector_->GetState().ipRescans : 0;
      const bool answering = answer;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ++perRescan_[rescan];
        if (!answering) ++silent_;
      }
      static const std::string reply = "YVNET-0001";
      if (answering)
        sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
    }
  }

  int fd_;
  CYvDetector* detector_;
  int stop_;
  mutable std::mutex mutex_;
  std::map<uint32_t, int> perRescan_;
  int silent_ = 0;
  std::thread thread_;
};

class NetworkDeviceMaps : public DeviceMaps {
 protected:
  void SetUp() override {
    DeviceMaps::SetUp();
    if (HasFatalFailure()) return;
    static const std::string request = "DISCOVER";
    YV_IP_DEVICE_TYPE t{};
    t.Request = request.data();
    t.RequestSize = static_cast<int32_t>(request.size());
    t.Callback = JudgeDatagram;
    t.DevDataSize = 16;
    t.UdpPort = kUdpPort;
    ASSERT_EQ(YV_RegIpDevice(&t), S_OK);
  }

  // The detector is made inside the body, so that its worker, and with it
  // every network rescan, runs in the test's network.
  void InNetwork(const std::function<void(int far)>& body) {
    const std::string failure = pn::Run({kUdpPort}, [&](const std::vector<int>& far) {
      body(far[0]);
      YV_Finalyze();  // the worker ends before its network goes
      ASSERT_EQ(YV_Initialize(YV_INIT_NOWINDOW), S_OK);
    });
    if (!failure.empty()) GTEST_SKIP() << failure;
  }

  static std::u16string FarName() { return U16(pn::kFar + ":" + std::to_string(kUdpPort)); }

  // Drains until a message has come, for at most timeoutMs.
  std::vector<Notice> DrainSome(YV_HANDLE h, int timeoutMs = 10000) {
    std::vector<Notice> got;
    Eventually(
        [&] {
          const std::vector<Notice> more = Drain(h);
          got.insert(got.end(), more.begin(), more.end());
          return !got.empty();
        },
        timeoutMs);
    return got;
  }
};

// A rescan aborted by a pause (YV_Open) while a known device has not
// answered yet sweeps nothing; the next one that finishes removes it.
TEST_F(NetworkDeviceMaps, ARescanAbortedByAPauseSweepsNothing) {
  InNetwork([&](int far) {
    YV_HANDLE h = Watch(YV_NF_EXIST, 20, /*ipMask=*/1);
    FarDevice device(far, Detector(), /*answer=*/false);
    // Nobody answers: the rescans finish and fill an empty map.
    ASSERT_TRUE(Eventually([] { return (State().mapsValid & 2) != 0; }, 10000));
    device.answer = true;
    std::vector<Notice> got = DrainSome(h);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].kind, YV_NMSG_ARRIVAL);
    EXPECT_EQ(got[0].exist.Info.PortType, YV_PORT_IP);
    EXPECT_EQ(Text(got[0].exist.Info.Name), FarName());
    EXPECT_EQ(got[0].data, Data(0, "0001"));

    // Once a request goes unanswered, the rescan that sent it waits for
    // the device; YV_Open aborts it meanwhile.
    device.answer = false;
    const int silent = device.HeardSilently();
    ASSERT_TRUE(Eventually([&] { return device.HeardSilently() > silent; }, 10000));
    TestPty other;
    ASSERT_TRUE(other.Ok());
    YV_HANDLE port = nullptr;
    EXPECT_EQ(YV_Open(&port, other.Name(), YV_PORT_COM, 9600, '\r', 2), S_OK);
    EXPECT_TRUE(Drain(h).empty());
    std::vector<Found> found;
    EXPECT_EQ(YV_EnumIpDevices(1, Collect, &found, nullptr, 0), S_OK);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(Text(found[0].info.Name), FarName());
    EXPECT_EQ(found[0].data, Data(0, "0001"));
    EXPECT_EQ(YV_CloseHandle(port), S_OK);

    got = DrainSome(h);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].kind, YV_NMSG_REMOVAL);
    EXPECT_EQ(Text(got[0].exist.Info.Name), FarName());
    EXPECT_EQ(got[0].data, Data(0, "0001"));
  });
}

// Each rescan broadcasts once while every known device answers (an empty
// map included), and a second time while a known device has not.
TEST_F(NetworkDeviceMaps, TheBroadcastIsRepeatedOnlyForAKnownDeviceThatIsSilent) {
  InNetwork([&](int far) {
    YV_HANDLE h = Watch(YV_NF_EXIST, 20, /*ipMask=*/1);
    FarDevice device(far, Detector(), /*answer=*/true);
    ASSERT_TRUE(Eventually([] { return State().ipRescans >= 2; }, 10000));
    uint32_t from = 0;
    WhilePaused([&] {
      device.answer = false;
      from = State().ipRescans;  // the number of the next rescan
    });
    ASSERT_TRUE(Eventually([&] { return State().ipRescans >= from + 2; }, 10000));
    const std::map<uint32_t, int> heard = device.PerRescan();
    auto count = [&](uint32_t rescan) {
      auto it = heard.find(rescan);
      return it == heard.end() ? 0 : it->second;
    };
    EXPECT_EQ(count(0), 1);         // the map was empty
    EXPECT_EQ(count(1), 1);         // the device answered the first
    EXPECT_EQ(count(from), 2);      // known and silent
    EXPECT_EQ(count(from + 1), 1);  // removed by the rescan before
    const std::vector<Notice> got = Drain(h);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].kind, YV_NMSG_REMOVAL);
  });
}

class NetworkFinalyze : public NetworkDeviceMaps, public ::testing::WithParamInterface<bool> {};

TEST_P(NetworkFinalyze, FromATypeCallbackEndsTheRescan) {
  static const std::string request = "DISCOVER";
  YV_IP_DEVICE_TYPE t{};
  t.Request = request.data();
  t.RequestSize = static_cast<int32_t>(request.size());
  t.Callback = FinalyzeFromTypeCallback;
  t.DevDataSize = 16;
  t.UdpPort = kUdpPort;
  ASSERT_EQ(YV_RegIpDevice(&t), S_OK);
  InNetwork([&](int far) {
    FinalyzingType f;
    f.recognise = GetParam();
    g_finalyzing = &f;
    // Answers every broadcast: a rescan that went on would broadcast again.
    FarDevice device(far, nullptr, /*answer=*/true);
    const int before = ThreadCount();
    Watch(YV_NF_EXIST, 20, /*ipMask=*/1);  // released by the callback's YV_Finalyze
    ASSERT_TRUE(Eventually([&] { return f.finalyzed.load(); }, 10000));
    EXPECT_TRUE(Eventually([&] { return ThreadCount() == before; }));
    EXPECT_EQ(f.callsAfter, 0);
    EXPECT_EQ(ylvane::g_pDetector, nullptr);
    EXPECT_EQ(ylvane::CYvLib::Acquire(), nullptr);
    device.Stop();
    g_finalyzing = nullptr;
  });
}

INSTANTIATE_TEST_SUITE_P(Host, NetworkFinalyze, ::testing::Bool(), RecognisesOrNot);

}  // namespace
