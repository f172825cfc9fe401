// The device detector: kernel event texts, the USB watch on a fixture tree,
// device events forwarded by the host, the rescan schedule, pauses, and the
// end of the worker with the last notifier.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "../common/NotifyRecorder.h"
#include "../common/Pty.h"
#include "../common/SysfsFixture.h"
#include "YvDetector.h"
#include "YvLib.h"
#include "YvSeams.h"
#include "YvUsbWatch.h"
#include "sys/Text.h"
#include "sys/Uevent.h"
#include "ylvane.h"

using ylvane::CUsbWatch;
using ylvane::CYvDetector;
using ylvane::UsbDeviceEvent;
using ylvane::sys::ParseUevent;
using ylvane::sys::Uevent;

namespace {

// ---- Event texts as the kernel and the udev daemon send them ------------

std::string KernelText(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines) s += l + '\0';
  return s;
}

// A udev daemon datagram: its header, then the same KEY=VALUE strings.
std::string UdevText(const std::string& props) {
  std::string s("libudev\0", 8);
  const uint32_t magic = 0xFEEDCAFE;
  const char be[4] = {char(magic >> 24), char(magic >> 16), char(magic >> 8), char(magic)};
  s.append(be, 4);
  auto put = [&](uint32_t v) { s.append(reinterpret_cast<const char*>(&v), 4); };
  put(40);  // header size
  put(40);  // properties offset
  put(static_cast<uint32_t>(props.size()));
  put(0);
  put(0);
  put(0);
  put(0);
  return s + props;
}

struct ParseCase {
  const char* name;
  std::string text;
  bool ok;
  Uevent expected;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name; }

class UeventTexts : public ::testing::TestWithParam<ParseCase> {};

TEST_P(UeventTexts, Parse) {
  auto ev = ParseUevent(GetParam().text.data(), GetParam().text.size());
  ASSERT_EQ(ev.has_value(), GetParam().ok);
  if (!ev) return;
  EXPECT_EQ(ev->action, GetParam().expected.action);
  EXPECT_EQ(ev->devPath, GetParam().expected.devPath);
  EXPECT_EQ(ev->subsystem, GetParam().expected.subsystem);
  EXPECT_EQ(ev->devType, GetParam().expected.devType);
  EXPECT_EQ(ev->product, GetParam().expected.product);
}

const std::string kUsbAdd =
    KernelText({"add@/devices/pci0000:00/0000:00:14.0/usb1/1-1", "ACTION=add",
                "DEVPATH=/devices/pci0000:00/0000:00:14.0/usb1/1-1", "SUBSYSTEM=usb", "MAJOR=189",
                "MINOR=3", "DEVNAME=bus/usb/001/004", "DEVTYPE=usb_device", "PRODUCT=403/1234/600",
                "TYPE=0/0/0", "BUSNUM=001", "DEVNUM=004", "SEQNUM=4411"});

INSTANTIATE_TEST_SUITE_P(
    Recorded, UeventTexts,
    ::testing::Values(
        ParseCase{"KernelUsbDeviceAdd",
                  kUsbAdd,
                  true,
                  {"add", "/devices/pci0000:00/0000:00:14.0/usb1/1-1", "usb", "usb_device",
                   "403/1234/600"}},
        ParseCase{"KernelTtyAdd",
                  KernelText({"add@/devices/x/1-1/1-1:1.0/ttyUSB0/tty/ttyUSB0", "ACTION=add",
                              "DEVPATH=/devices/x/1-1/1-1:1.0/ttyUSB0/tty/ttyUSB0", "SUBSYSTEM=tty",
                              "MAJOR=188", "MINOR=0", "DEVNAME=ttyUSB0", "SEQNUM=4420"}),
                  true,
                  {"add", "/devices/x/1-1/1-1:1.0/ttyUSB0/tty/ttyUSB0", "tty", "", ""}},
        ParseCase{"UdevUsbDeviceRemove",
                  UdevText(std::string("ACTION=remove\0DEVPATH=/devices/1-1\0SUBSYSTEM=usb\0"
                                       "DEVTYPE=usb_device\0PRODUCT=403/6001/600\0",
                                       89)),
                  true,
                  {"remove", "/devices/1-1", "usb", "usb_device", "403/6001/600"}},
        ParseCase{"WithoutSubsystem",
                  KernelText({"add@/devices/1-1", "ACTION=add", "DEVPATH=/devices/1-1"}),
                  false,
                  {}},
        ParseCase{
            "NoHeader", std::string("ACTION=add\0DEVPATH=/d\0SUBSYSTEM=usb\0", 34), false, {}},
        ParseCase{"UnterminatedHeader", "add@/devices/1-1", false, {}},
        ParseCase{"UdevPropertiesPastTheEnd",
                  UdevText("ACTION=add").substr(0, 44) + std::string(4, '\xff'),
                  false,
                  {}},
        ParseCase{"UdevBadMagic", "libudev" + std::string(33, '\0') + "ACTION=add", false, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UeventTexts, UsbProductIds) {
  unsigned v = 0, p = 0;
  EXPECT_TRUE(ylvane::sys::ParseUsbProduct("403/6001/600", &v, &p));
  EXPECT_EQ(v, 0x403u);
  EXPECT_EQ(p, 0x6001u);
  for (const char* bad : {"", "403", "403/", "zz/1/1", "403/6001", "10403/1/1"})
    EXPECT_FALSE(ylvane::sys::ParseUsbProduct(bad, &v, &p)) << bad;
}

// ---- The USB watch, fed with events on a fixture tree --------------------

Uevent UsbEvent(const std::string& action, const std::string& devPath, const char* product) {
  return {action, devPath, "usb", "usb_device", product};
}

class UsbWatch : public ::testing::Test {
 protected:
  void SetUp() override { ylvane::SetSysRoot(fx_.SysRoot()); }
  void TearDown() override { ylvane::SetSysRoot("/sys"); }
  SysfsFixture fx_;
  CUsbWatch::Clock::time_point t0_ = CUsbWatch::Clock::now();
};

TEST_F(UsbWatch, AnArrivalWaitsForItsTtyAndARemovalRemembersIt) {
  fx_.AddUsb("1-1", 0x0403, 0x1111, "OLD", "Present", "ttyUSB9");  // there before the watch
  CUsbWatch watch;
  std::vector<UsbDeviceEvent> out;
  const std::string dev = fx_.AddUsb("1-2", 0x0403, 0x1234, "A5", "Reader", "");
  watch.Handle(UsbEvent("add", dev, "403/1234/600"), t0_, out);
  watch.Handle(UsbEvent("add", dev, "403/1234/600"), t0_, out);  // told twice
  EXPECT_TRUE(out.empty());
  ASSERT_TRUE(watch.NextDeadline().has_value());

  const std::string tty = fx_.BindTty("1-2", "ttyUSB0");
  watch.Handle({"add", tty, "tty", "", ""}, t0_, out);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].type, YV_DEVICE_ARRIVAL);
  EXPECT_EQ(out[0].product, 0x1234);
  EXPECT_EQ(out[0].serial, u"A5");
  EXPECT_EQ(out[0].tty, u"ttyUSB0");
  EXPECT_FALSE(watch.NextDeadline().has_value());

  fx_.RemoveUsb("1-2");  // gone from sysfs before its event is read
  watch.Handle(UsbEvent("remove", dev, "403/1234/600"), t0_, out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1].type, YV_DEVICE_REMOVAL);
  EXPECT_EQ(out[1].serial, u"A5");
  EXPECT_EQ(out[1].tty, u"ttyUSB0");

  // A device present at the start is known without an arrival.
  fx_.RemoveUsb("1-1");
  watch.Handle(UsbEvent("remove", "/devices/pci0000:00/0000:00:14.0/usb1/1-1", "403/1111/600"), t0_,
               out);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[2].serial, u"OLD");
  EXPECT_EQ(out[2].tty, u"ttyUSB9");
}

TEST_F(UsbWatch, AnArrivalWaitsForThePortsTtyNotJustThePort) {
  // The serial driver adds its port a moment before the port's tty (and the
  // device node with it): announced then, the reader could not be opened.
  CUsbWatch watch;
  std::vector<UsbDeviceEvent> out;
  const std::string dev = fx_.AddUsb("1-2", 0x0403, 0x1234, "A5", "Reader", "");
  watch.Handle(UsbEvent("add", dev, "403/1234/600"), t0_, out);
  const std::string port = fx_.AddSerialPortOnly("1-2", "ttyUSB0");
  watch.Handle({"add", port, "usb-serial", "", ""}, t0_, out);
  EXPECT_TRUE(out.empty()) << "announced before its tty exists";

  const std::string tty = fx_.BindTty("1-2", "ttyUSB0");
  watch.Handle({"add", tty, "tty", "", ""}, t0_, out);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].type, YV_DEVICE_ARRIVAL);
  EXPECT_EQ(out[0].tty, u"ttyUSB0");
}

TEST_F(UsbWatch, WithoutTtyTheArrivalComesWhenTheWaitIsOver) {
  CUsbWatch watch;
  std::vector<UsbDeviceEvent> out;
  const std::string dev = fx_.AddUsb("1-2", 0x0403, 0x1234, "A5", "Reader", "");
  watch.Handle(UsbEvent("add", dev, "403/1234/600"), t0_, out);
  watch.Due(t0_, out);
  EXPECT_TRUE(out.empty());
  watch.Due(*watch.NextDeadline(), out);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].type, YV_DEVICE_ARRIVAL);
  EXPECT_EQ(out[0].tty, u"");
}

TEST_F(UsbWatch, OtherDevicesAndShortVisitsAreNotReported) {
  CUsbWatch watch;
  std::vector<UsbDeviceEvent> out;
  const std::string other = fx_.AddUsb("1-3", 0x067b, 0x2303, "P1", "Adapter", "ttyUSB3");
  watch.Handle(UsbEvent("add", other, "67b/2303/300"), t0_, out);
  const std::string unnamed = fx_.AddUsb("1-4", 0x0403, 0x1234, "", "Reader", "ttyUSB4");
  watch.Handle(UsbEvent("add", unnamed, "403/1234/600"), t0_, out);
  // Plugged in and pulled out before its port appeared.
  const std::string brief = fx_.AddUsb("1-5", 0x0403, 0x1234, "B1", "Reader", "");
  watch.Handle(UsbEvent("add", brief, "403/1234/600"), t0_, out);
  fx_.RemoveUsb("1-5");
  watch.Handle(UsbEvent("remove", brief, "403/1234/600"), t0_, out);
  watch.Due(t0_ + std::chrono::hours(1), out);
  EXPECT_TRUE(out.empty());
}

std::string ProductText(uint16_t vendor, uint16_t product) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%x/%x/100", vendor, product);
  return buf;
}

// A serial port that no serial number names is opened by its tty name: it
// arrives with its tty, and goes with it.
struct PlainPortCase {
  const char* name;
  uint16_t vendor, product;
  const char* serial;
  const char* tty;
  bool modem;  // a USB modem's port (its tty right below the interface)
};

void PrintTo(const PlainPortCase& c, std::ostream* os) { *os << c.name; }

class UsbWatchPlainPorts : public UsbWatch, public ::testing::WithParamInterface<PlainPortCase> {};

TEST_P(UsbWatchPlainPorts, ComeAndGoWithTheirTty) {
  const PlainPortCase& c = GetParam();
  CUsbWatch watch;
  std::vector<UsbDeviceEvent> out;
  const std::string dev = fx_.AddUsb("1-2", c.vendor, c.product, c.serial, "Adapter", "");
  watch.Handle(UsbEvent("add", dev, ProductText(c.vendor, c.product).c_str()), t0_, out);
  const std::string tty = c.modem ? fx_.BindAcmTty("1-2", c.tty) : fx_.BindTty("1-2", c.tty);
  watch.Handle({"add", tty, "tty", "", ""}, t0_, out);
  watch.Handle({"add", tty, "tty", "", ""}, t0_, out);  // told twice
  ASSERT_EQ(out.size(), 1u);
  EXPECT_FALSE(watch.NextDeadline().has_value()) << "waits as for a device opened by its serial number";

  fx_.RemoveUsb("1-2");
  watch.Handle({"remove", tty, "tty", "", ""}, t0_, out);
  watch.Handle(UsbEvent("remove", dev, ProductText(c.vendor, c.product).c_str()), t0_, out);
  ASSERT_EQ(out.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(out[i].type, i == 0 ? YV_DEVICE_ARRIVAL : YV_DEVICE_REMOVAL);
    EXPECT_EQ(out[i].vendor, c.vendor);
    EXPECT_EQ(out[i].product, c.product);
    EXPECT_EQ(out[i].serial, u"") << "a serial number names the port";
    EXPECT_EQ(out[i].tty, ylvane::sys::FromSystemBytes(c.tty));
    EXPECT_EQ(out[i].sysPath, ylvane::sys::FromSystemBytes(fx_.SysRoot() + dev));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Ports, UsbWatchPlainPorts,
    ::testing::Values(PlainPortCase{"ReaderWithoutSerialNumber", 0x0403, 0x1234, "", "ttyUSB0", false},
                      PlainPortCase{"OtherMakersAdapter", 0x067b, 0x2303, "P1", "ttyUSB0", false},
                      PlainPortCase{"UsbModem", 0x2341, 0x0043, "7543", "ttyACM0", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UsbWatch, AnFtdiDevicesFurtherPortsArePlainPorts) {
  CUsbWatch watch;
  std::vector<UsbDeviceEvent> out;
  const std::string dev = fx_.AddUsb("1-2", 0x0403, 0x6010, "FT2", "Dual", "");
  watch.Handle(UsbEvent("add", dev, "403/6010/700"), t0_, out);
  watch.Handle({"add", fx_.BindTty("1-2", "ttyUSB0"), "tty", "", ""}, t0_, out);
  watch.Handle({"add", fx_.BindTty("1-2", "ttyUSB1", "1.1"), "tty", "", ""}, t0_, out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].serial, u"FT2");
  EXPECT_EQ(out[0].tty, u"ttyUSB0");
  EXPECT_EQ(out[1].serial, u"");
  EXPECT_EQ(out[1].tty, u"ttyUSB1");

  // The device's removal alone (its ports' events were missed) takes both.
  fx_.RemoveUsb("1-2");
  watch.Handle(UsbEvent("remove", dev, "403/6010/700"), t0_, out);
  ASSERT_EQ(out.size(), 4u);
  for (size_t i = 2; i < 4; ++i) EXPECT_EQ(out[i].type, YV_DEVICE_REMOVAL);
  EXPECT_EQ(out[2].tty, u"ttyUSB1");
  EXPECT_EQ(out[3].serial, u"FT2");
}

TEST_F(UsbWatch, APortWhoseDeviceWasNotToldIsStillItsDevicesOwn) {
  // The device's own event came before its files could be read (or was
  // lost): its port tells of it.
  CUsbWatch watch;
  std::vector<UsbDeviceEvent> out;
  const std::string dev = fx_.AddUsb("1-2", 0x0403, 0x1234, "A5", "Reader", "");
  watch.Handle({"add", fx_.BindTty("1-2", "ttyUSB0"), "tty", "", ""}, t0_, out);
  watch.Handle(UsbEvent("add", dev, "403/1234/600"), t0_, out);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].type, YV_DEVICE_ARRIVAL);
  EXPECT_EQ(out[0].serial, u"A5");
  EXPECT_EQ(out[0].tty, u"ttyUSB0");
}

TEST_F(UsbWatch, PortsPresentAtTheStartAreKnownWithoutAnArrival) {
  const std::string adapter = fx_.AddUsb("1-1", 0x067b, 0x2303, "", "Adapter", "ttyUSB3");
  const std::string reader = fx_.AddUsb("1-2", 0x0403, 0x1234, "A5", "Reader", "ttyUSB0");
  fx_.AddSerialTty("ttyS4");  // on no USB device
  CUsbWatch watch;
  std::vector<UsbDeviceEvent> out;
  const std::string adapterTty = adapter + "/1-1:1.0/ttyUSB3/tty/ttyUSB3";
  watch.Handle({"add", adapterTty, "tty", "", ""}, t0_, out);
  EXPECT_TRUE(out.empty());

  fx_.RemoveUsb("1-1");
  watch.Handle({"remove", adapterTty, "tty", "", ""}, t0_, out);
  // The reader's port goes with the reader, as the device it is.
  fx_.RemoveUsb("1-2");
  watch.Handle({"remove", reader + "/1-2:1.0/ttyUSB0/tty/ttyUSB0", "tty", "", ""}, t0_, out);
  watch.Handle(UsbEvent("remove", reader, "403/1234/600"), t0_, out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].type, YV_DEVICE_REMOVAL);
  EXPECT_EQ(out[0].tty, u"ttyUSB3");
  EXPECT_EQ(out[0].vendor, 0x067b);
  EXPECT_EQ(out[1].type, YV_DEVICE_REMOVAL);
  EXPECT_EQ(out[1].serial, u"A5");
}

// ---- The detector through the library ------------------------------------

class Detection : public ::testing::Test {
 protected:
  void SetUp() override {
    ylvane::SetSysRoot(fx_.SysRoot());
    ylvane::SetFtLibraryPath("/nonexistent/libftd2xx.so");
  }
  void TearDown() override {
    // Whatever the test left initialised (a failed assertion skips its own
    // YV_Finalyze); YV_Finalyze drops only the host's references.
    while (ylvane::CYvLib* lib = ylvane::CYvLib::Acquire()) {
      const bool finalized = lib->Finalized();
      lib->Release();
      if (finalized) break;
      YV_Finalyze();
    }
    ylvane::SetSysRoot("/sys");
    ylvane::SetFtLibraryPath("libftd2xx.so");
    ylvane::SetUsbWatchOpen(nullptr);
  }

  void Init(uint32_t flags) {
    ASSERT_EQ(YV_Initialize(flags), S_OK);
    static const uint16_t pids[] = {0x0000, 0x1234, 0x1235, 0x1237, 0xFFFF};
    YV_SERIAL_DEVICE_TYPE t{};
    t.TypeIndex = 0;
    t.Pids = pids;
    t.PidCount = 5;
    t.DescFilter = u"Reader";
    ASSERT_EQ(YV_RegSerialDevice(&t), S_OK);
  }

  YV_HANDLE Make(NotifyRecorder* rec, void* recipient = nullptr, uint32_t interval = 0,
                 uint32_t flags = YV_NF_EXIST, uint32_t typeMask = 1) {
    YV_NOTIFY_SETTINGS s{};
    s.Flags = flags;
    s.Callback = NotifyRecorder::Callback;
    s.UserData = rec;
    s.SerialTypeMask = typeMask;
    s.Recipient = recipient;
    s.SerialScanInterval = interval;
    YV_HANDLE h = nullptr;
    EXPECT_EQ(YV_FindNotification(&h, &s), S_OK);
    return h;
  }

  static CYvDetector::State State() {
    return static_cast<CYvDetector*>(ylvane::g_pDetector)->GetState();
  }
  // The state once the worker has applied what the attaches changed.
  static CYvDetector::State Settled() {
    EXPECT_TRUE(Eventually([] { return State().pending == 0; }));
    return State();
  }

  static void Forward(uint32_t type, uint16_t vid, uint16_t pid, const char16_t* serial,
                      const char16_t* tty, uint32_t size = sizeof(YV_DEVICE_EVENT)) {
    YV_DEVICE_EVENT ev{};
    ev.Size = size;
    ev.VendorId = vid;
    ev.ProductId = pid;
    ev.Serial = serial;
    ev.TtyName = tty;
    EXPECT_EQ(YV_DeviceEventNotify(type, &ev), S_OK);
  }

  SysfsFixture fx_;
};

TEST_F(Detection, ForwardedEventsGiveTheApplicationsMessages) {
  Init(YV_INIT_NOWINDOW);
  fx_.AddUsb("1-1", 0x0403, 0x1234, "A5", "Reader", "ttyUSB0");
  fx_.AddUsb("1-2", 0x0403, 0x1237, "B7", "Other reader", "ttyUSB1");
  NotifyRecorder rec;
  YV_HANDLE h = Make(&rec, /*recipient=*/reinterpret_cast<void*>(1));
  const CYvDetector::State st = Settled();
  EXPECT_EQ(st.devNotify, CYvDetector::DevNotify::Host);
  EXPECT_FALSE(st.serialScan);  // the events tell, no rescans needed

  // No FTDI device of a watched type, and here without a port that would
  // make it a plain one: another vendor, a product id of no watched type, a
  // description that no watched type accepts, a name that does not fit.
  // Ignored as well: a record too small, an event of another kind.
  Forward(YV_DEVICE_ARRIVAL, 0x067b, 0x1234, u"P1", nullptr);
  Forward(YV_DEVICE_ARRIVAL, 0x0403, 0x6001, u"Z9", nullptr);
  Forward(YV_DEVICE_ARRIVAL, 0x0403, 0x1237, u"B7", nullptr);
  Forward(YV_DEVICE_ARRIVAL, 0x0403, 0x1234, u"A5", u"ttyUSB0", 12);
  Forward(YV_DEVICE_ARRIVAL, 0x0403, 0x1234, std::u16string(32, u'L').c_str(), nullptr);
  Forward(0x8001, 0x0403, 0x1234, u"A5", u"ttyUSB0");
  EXPECT_EQ(YV_DeviceEventNotify(YV_DEVICE_ARRIVAL, nullptr), S_OK);

  Forward(YV_DEVICE_ARRIVAL, 0x0403, 0x1234, u"A5", u"ttyUSB0");
  fx_.RemoveUsb("1-1");
  fx_.RemoveUsb("1-2");
  // Gone from sysfs: its description is remembered, and B7's still bars it.
  Forward(YV_DEVICE_REMOVAL, 0x0403, 0x1237, u"B7", nullptr);
  Forward(YV_DEVICE_REMOVAL, 0x0403, 0x1234, u"A5", u"ttyUSB0");
  ASSERT_TRUE(rec.WaitFor(2));
  EXPECT_FALSE(rec.WaitFor(3, 100));
  const std::vector<Notice> got = rec.Got();
  for (int i = 0; i < 2; ++i) {
    const YV_PORT_INFO& info = got[i].exist.Info;
    EXPECT_EQ(got[i].kind, i == 0 ? YV_NMSG_ARRIVAL : YV_NMSG_REMOVAL);
    EXPECT_EQ(info.PortType, YV_PORT_FT);
    EXPECT_EQ(Text(info.Name), u"A5");
    EXPECT_EQ(Text(info.PortName), u"ttyUSB0");
    EXPECT_EQ(info.Busy, i);
    EXPECT_EQ(info.TypeMask, 1u);
    EXPECT_EQ(Text(info.Description), u"");
    EXPECT_EQ(got[i].exist.DevData, nullptr);
  }
  YV_CloseHandle(h);
}

// A port that no serial number of a watched FTDI device names is listed as
// a plain port, by its tty name: its events are told as such to the
// notifiers whose types take plain ports.
TEST_F(Detection, ForwardedPortsThatNoSerialNumberNamesArePlainPorts) {
  Init(YV_INIT_NOWINDOW);
  // A second type: the readers of one product id, and no plain ports.
  static const uint16_t namedPids[] = {0x1234};
  YV_SERIAL_DEVICE_TYPE t{};
  t.TypeIndex = 1;
  t.Pids = namedPids;
  t.PidCount = 1;
  ASSERT_EQ(YV_RegSerialDevice(&t), S_OK);
  fx_.AddUsb("1-1", 0x0403, 0x1234, "A5", "Reader", "ttyUSB0");
  fx_.AddUsb("1-2", 0x0403, 0x1237, "B7", "Other reader", "ttyUSB1");
  void* const host = reinterpret_cast<void*>(1);
  NotifyRecorder both, named;
  YV_HANDLE hBoth = Make(&both, host, 0, YV_NF_EXIST, 3);
  YV_HANDLE hNamed = Make(&named, host, 0, YV_NF_EXIST, 2);
  Settled();

  const std::u16string tooLong(32, u'L');
  struct Case {
    const char* what;
    uint16_t vid, pid;
    const char16_t* serial;
    const char16_t* tty;
    int32_t type;  // 0: nothing told
    const char16_t* name;
  } const cases[] = {
      {"another maker's", 0x067b, 0x2303, u"P1", u"ttyUSB3", YV_PORT_COM, u"ttyUSB3"},
      {"without a serial number", 0x0403, 0x1234, u"", u"ttyUSB4", YV_PORT_COM, u"ttyUSB4"},
      {"with none given", 0x0403, 0x1234, nullptr, u"ttyUSB5", YV_PORT_COM, u"ttyUSB5"},
      {"a product id no type lists", 0x0403, 0x6001, u"Z9", u"ttyUSB2", YV_PORT_COM, u"ttyUSB2"},
      {"a description the type bars", 0x0403, 0x1237, u"B7", u"ttyUSB1", YV_PORT_COM, u"ttyUSB1"},
      {"a serial number too long", 0x0403, 0x1234, tooLong.c_str(), u"ttyUSB6", YV_PORT_COM,
       u"ttyUSB6"},
      {"a watched reader", 0x0403, 0x1234, u"A5", u"ttyUSB0", YV_PORT_FT, u"A5"},
      {"no port", 0x067b, 0x2303, u"P2", nullptr, 0, nullptr},
  };
  std::vector<const Case*> told;
  for (const Case& c : cases) {
    Forward(YV_DEVICE_ARRIVAL, c.vid, c.pid, c.serial, c.tty);
    Forward(YV_DEVICE_REMOVAL, c.vid, c.pid, c.serial, c.tty);
    if (c.type) told.insert(told.end(), 2, &c);
  }
  ASSERT_TRUE(both.WaitFor(told.size()));
  ASSERT_TRUE(named.WaitFor(2));
  EXPECT_FALSE(both.WaitFor(told.size() + 1, 100));
  const std::vector<Notice> got = both.Got();
  for (size_t i = 0; i < told.size(); ++i) {
    const Case& c = *told[i];
    const YV_PORT_INFO& info = got[i].exist.Info;
    SCOPED_TRACE(c.what);
    EXPECT_EQ(got[i].kind, i % 2 == 0 ? YV_NMSG_ARRIVAL : YV_NMSG_REMOVAL);
    EXPECT_EQ(info.PortType, c.type);
    EXPECT_EQ(Text(info.Name), c.name);
    EXPECT_EQ(Text(info.PortName), c.type == YV_PORT_FT ? u"ttyUSB0" : u"");
    EXPECT_EQ(info.Busy, int32_t(i % 2));
    EXPECT_EQ(info.TypeMask, c.type == YV_PORT_FT ? 3u : 1u);
  }
  // The type without plain ports hears of the reader alone.
  const std::vector<Notice> readers = named.Got();
  ASSERT_EQ(readers.size(), 2u);
  for (const Notice& n : readers) EXPECT_EQ(Text(n.exist.Info.Name), u"A5");
  YV_CloseHandle(hNamed);
  YV_CloseHandle(hBoth);
}

TEST_F(Detection, WithoutEventsThePortsAreRescannedAndAnEventMakesARescanDue) {
  Init(YV_INIT_NOWINDOW);
  fx_.AddUsb("1-1", 0x0403, 0x1234, "A5", "Reader", "ttyUSB0");
  NotifyRecorder rec;
  YV_HANDLE h = Make(&rec, nullptr, /*interval=*/60000);
  EXPECT_TRUE(Eventually([] { return State().serialRescans == 1; }));  // the first at once
  const CYvDetector::State st = State();
  EXPECT_EQ(st.devNotify, CYvDetector::DevNotify::None);
  EXPECT_TRUE(st.serialScan);
  Forward(YV_DEVICE_ARRIVAL, 0x0403, 0x1234, u"A5", u"ttyUSB0");
  EXPECT_TRUE(Eventually([] { return State().serialRescans == 2; }));
  EXPECT_TRUE(rec.Got().empty());  // the rescan reports it, not the event
  YV_CloseHandle(h);
}

TEST_F(Detection, IntervalsAreAggregatedOverTheNotifiers) {
  Init(YV_INIT_NOWINDOW);
  NotifyRecorder rec;
  YV_HANDLE slow = Make(&rec, nullptr, 8000);
  EXPECT_EQ(Settled().serialInterval, 5000u);  // an attach only lowers it
  YV_HANDLE fast = Make(&rec, nullptr, 3000);
  EXPECT_EQ(Settled().serialInterval, 3000u);
  YV_CloseHandle(fast);
  EXPECT_EQ(Settled().serialInterval, 8000u);  // recomputed from those left
  YV_CloseHandle(slow);
}

TEST_F(Detection, KernelEventsAreWatchedWhenTheLibraryMayListen) {
  if (!ylvane::sys::UeventSocket::Open()) GTEST_SKIP() << "no netlink socket for this process";
  Init(0);
  NotifyRecorder rec;
  YV_HANDLE h = Make(&rec);
  const CYvDetector::State st = Settled();
  EXPECT_EQ(st.devNotify, CYvDetector::DevNotify::Kernel);
  EXPECT_FALSE(st.serialScan);
  YV_CloseHandle(h);
}

// A watch on the kernel's events, opened only once the detector's worker
// has been round its loop, with what the detector looked like then.
std::optional<CYvDetector::State> g_whileOpening;

std::unique_ptr<CUsbWatch> OpenAfterTheWorkersRound() {
  ylvane::LibRef lib;
  ylvane::IYvDetectorLink* d = ylvane::AcquireDetector(*lib.get());
  // A pause is acknowledged only at the end of a round of the worker's
  // loop: between two of them it has been round once more.
  for (int i = 0; i < 2; ++i) {
    ylvane::DetectorPause pause;
    d->Pause(pause);
    EXPECT_TRUE(pause.acknowledged);
    d->Resume(pause);
  }
  d->Release();
  g_whileOpening = static_cast<CYvDetector*>(ylvane::g_pDetector)->GetState();
  return std::make_unique<CUsbWatch>();  // a watch without a socket
}

// Until a new notifier's source of device events is settled, the worker
// must not decide on the rescans: it would take a notifier that events
// tell for one that nobody tells, and list (or probe) every port, taking in
// what it finds without a word. The watch is opened after the notifier has
// joined the detector.
TEST_F(Detection, NoRescanDecisionWhileANotifiersEventsAreBeingOpened) {
  Init(0);
  ylvane::SetUsbWatchOpen(&OpenAfterTheWorkersRound);
  g_whileOpening.reset();
  NotifyRecorder rec;
  YV_HANDLE h = Make(&rec);
  ASSERT_TRUE(g_whileOpening);
  EXPECT_FALSE(g_whileOpening->serialScan);
  const CYvDetector::State st = Settled();
  EXPECT_EQ(st.devNotify, CYvDetector::DevNotify::Kernel);
  EXPECT_FALSE(st.serialScan);
  EXPECT_EQ(st.serialRescans, 0u);
  YV_CloseHandle(h);
}

// A rescan that fills a map no sweep has finished yet only learns what is
// there: an event that comes before that first sweep tells by itself.
TEST_F(Detection, AnEventBeforeTheFirstSweepIsToldByItself) {
  Init(YV_INIT_NOWINDOW);
  void* const host = reinterpret_cast<void*>(1);
  NotifyRecorder events, changes;
  YV_HANDLE told = Make(&events, host);  // told by events, no rescans
  Settled();
  ylvane::LibRef lib;
  ylvane::IYvDetectorLink* d = ylvane::AcquireDetector(*lib.get());
  ylvane::DetectorPause pause;
  d->Pause(pause);
  ASSERT_TRUE(pause.acknowledged);
  // Changes are seen only by rescans, which start now; paused, none sweeps.
  YV_HANDLE asked = Make(&changes, host, /*interval=*/20, YV_NF_EXIST | YV_NF_CHANGE);
  const CYvDetector::State st = Settled();
  EXPECT_TRUE(st.serialScan);
  EXPECT_EQ(st.mapsValid & 1, 0u);

  fx_.AddUsb("1-1", 0x0403, 0x1234, "A5", "Reader", "ttyUSB0");
  Forward(YV_DEVICE_ARRIVAL, 0x0403, 0x1234, u"A5", u"ttyUSB0");
  EXPECT_TRUE(events.WaitFor(1));
  EXPECT_TRUE(changes.WaitFor(1));
  // The first sweep then finds it there, and the next one nothing new.
  d->Resume(pause);
  d->Release();
  EXPECT_TRUE(Eventually([] { return State().serialRescans >= 2; }));
  for (NotifyRecorder* r : {&events, &changes}) {
    const std::vector<Notice> got = r->Got();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].kind, YV_NMSG_ARRIVAL);
    EXPECT_EQ(got[0].exist.Info.PortType, YV_PORT_FT);
    EXPECT_EQ(Text(got[0].exist.Info.Name), u"A5");
  }
  YV_CloseHandle(asked);
  YV_CloseHandle(told);
}

TEST_F(Detection, PausesAreEachAcknowledgedAndStopTheRescans) {
  Init(YV_INIT_NOWINDOW);
  NotifyRecorder rec;
  YV_HANDLE h = Make(&rec, nullptr, /*interval=*/20);
  ASSERT_TRUE(Eventually([] { return State().serialRescans >= 2; }));
  ylvane::LibRef lib;
  constexpr int kPausers = 4;
  std::vector<ylvane::DetectorPause> pauses(kPausers);
  std::latch paused(kPausers), resume(1);
  std::vector<std::thread> threads;
  for (int i = 0; i < kPausers; ++i)
    threads.emplace_back([&, i] {
      ylvane::IYvDetectorLink* d = ylvane::AcquireDetector(*lib.get());
      d->Pause(pauses[i]);
      paused.count_down();
      resume.wait();
      d->Resume(pauses[i]);
      d->Release();
    });
  paused.wait();
  for (const auto& p : pauses) EXPECT_TRUE(p.acknowledged);
  const uint32_t during = State().serialRescans;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(State().serialRescans, during);
  resume.count_down();
  for (auto& t : threads) t.join();
  EXPECT_EQ(State().pauseWaiters, 0u);
  EXPECT_TRUE(Eventually([&] { return State().serialRescans > during; }));
  YV_CloseHandle(h);
}

// A host callback on the worker that pauses the scans (by opening a port)
// must not wait for the worker, which is busy calling it.
TEST_F(Detection, APauseFromAWorkerCallbackIsAcknowledgedAtOnce) {
  Init(YV_INIT_NOWINDOW);
  struct Probe {
    ylvane::DetectorPause pause;
    std::latch done{1};
  } probe;
  auto cb = [](uint32_t, const void*, void* user) YV_CALL -> YV_BOOL {
    auto* p = static_cast<Probe*>(user);
    ylvane::LibRef lib;
    ylvane::IYvDetectorLink* d = ylvane::AcquireDetector(*lib.get());
    d->Pause(p->pause);
    d->Resume(p->pause);
    d->Release();
    p->done.count_down();
    return 1;
  };
  YV_NOTIFY_SETTINGS s{};
  s.Flags = YV_NF_ERROR | YV_NF_EXIST;
  s.Callback = cb;
  s.UserData = &probe;
  s.SerialTypeMask = 1;
  YV_HANDLE h = nullptr;
  ASSERT_EQ(YV_FindNotification(&h, &s), S_OK);
  static_cast<CYvDetector*>(ylvane::g_pDetector)->QueueError(E_FAIL);
  probe.done.wait();
  EXPECT_TRUE(probe.pause.acknowledged);
  EXPECT_EQ(State().pauseWaiters, 0u);
  YV_CloseHandle(h);
}

TEST_F(Detection, PortsOpenWhileADetectorRuns) {
  Init(YV_INIT_NOWINDOW);
  NotifyRecorder rec;
  YV_HANDLE h = Make(&rec, nullptr, 20);
  constexpr int kPorts = 4;
  std::vector<std::unique_ptr<TestPty>> ptys;
  for (int i = 0; i < kPorts; ++i) ptys.push_back(std::make_unique<TestPty>());
  std::vector<YV_HANDLE> ports(kPorts);
  std::vector<HRESULT> results(kPorts, E_FAIL);
  std::vector<std::thread> threads;
  for (int i = 0; i < kPorts; ++i)
    threads.emplace_back(
        [&, i] { results[i] = YV_Open(&ports[i], ptys[i]->Name(), YV_PORT_COM, 9600, 10, 2); });
  for (auto& t : threads) t.join();
  for (int i = 0; i < kPorts; ++i) {
    EXPECT_EQ(results[i], S_OK);
    YV_CloseHandle(ports[i]);
  }
  EXPECT_EQ(State().pauseWaiters, 0u);
  YV_CloseHandle(h);
}

TEST_F(Detection, TheLastReleaseStopsTheWorker) {
  Init(YV_INIT_NOWINDOW);
  const int before = ThreadCount();
  NotifyRecorder rec;
  YV_HANDLE a = Make(&rec), b = Make(&rec);
  EXPECT_EQ(ThreadCount(), before + 1);
  YV_CloseHandle(a);
  EXPECT_NE(ylvane::g_pDetector, nullptr);
  YV_CloseHandle(b);
  EXPECT_EQ(ylvane::g_pDetector, nullptr);
  // Joined, not left running. A joined thread can linger in /proc for a
  // moment after it has ended, so its entry is given time to go.
  EXPECT_TRUE(Eventually([&] { return ThreadCount() == before; }));
  // A later notifier starts a fresh one.
  YV_HANDLE c = Make(&rec);
  EXPECT_NE(ylvane::g_pDetector, nullptr);
  YV_Finalyze();  // releases it too
  EXPECT_EQ(ylvane::g_pDetector, nullptr);
  (void)c;
}

}  // namespace
