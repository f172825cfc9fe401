// Under umockdev's preload: the real /sys paths and real device events over
// the netlink socket, served by a test bed instead of the kernel.
#include <gtest/gtest.h>
#include <umockdev.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../common/NotifyRecorder.h"
#include "YvDetector.h"
#include "YvLib.h"
#include "YvSeams.h"
#include "ylvane.h"

namespace {

class TestBed : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* preload = getenv("LD_PRELOAD");
    ASSERT_TRUE(preload && strstr(preload, "libumockdev-preload"))
        << "run me under umockdev-wrapper";
    bed_ = umockdev_testbed_new();
    ASSERT_TRUE(umockdev_in_mock_environment());
    ylvane::SetFtLibraryPath("/nonexistent/libftd2xx.so");
    ylvane::SetUsbTtyWaitMs(200);
  }
  void TearDown() override {
    ylvane::SetFtLibraryPath("libftd2xx.so");
    ylvane::SetUsbTtyWaitMs(2000);
    if (bed_) g_object_unref(bed_);
  }

  // A USB device as the kernel shows it (an empty serial: it has none); its
  // serial port comes later.
  std::string AddDevice(const char* name, const char* vendor, const char* product,
                        const char* serial) {
    const std::string ids =
        std::string(vendor + (vendor[0] == '0' ? 1 : 0)) + "/" + product + "/600";
    std::vector<const gchar*> attrs = {"idVendor", vendor, "idProduct", product,
                                       "product",  "Reader"};
    if (*serial) attrs.insert(attrs.end(), {"serial", serial});
    attrs.push_back(nullptr);
    const gchar* props[] = {"DEVTYPE", "usb_device", "PRODUCT", ids.c_str(), nullptr};
    gchar* path = umockdev_testbed_add_devicev(bed_, "usb", name, nullptr,
                                               const_cast<gchar**>(attrs.data()),
                                               const_cast<gchar**>(props));
    std::string out = path;
    g_free(path);
    return out;
  }

  void AddPort(const std::string& device, const char* name, const char* tty) {
    const std::string intfName = std::string(name) + ":1.0";
    gchar* intf = umockdev_testbed_add_device(bed_, "usb", intfName.c_str(), device.c_str(),
                                              "bInterfaceNumber", "00", nullptr, "DEVTYPE",
                                              "usb_interface", nullptr);
    gchar* port = umockdev_testbed_add_device(bed_, "usb-serial", tty, intf, nullptr, nullptr);
    // The port's tty, registered right after the port, as the kernel does.
    const std::string portPath = std::string(port).substr(4);  // without "/sys"
    const std::string cls = "P: " + portPath + "/tty/" + tty +
                            "\nE: SUBSYSTEM=tty\nA: dev=188:0\nL: device=../../../" + tty + "\n";
    GError* error = nullptr;
    EXPECT_TRUE(umockdev_testbed_add_from_string(bed_, cls.c_str(), &error))
        << (error ? error->message : "");
    if (error) g_error_free(error);
    g_free(port);
    g_free(intf);
  }

  // Pulled out, as the kernel does it: children first, each device's event
  // just before it goes.
  void Unplug(const std::string& device, const char* name, const char* tty) {
    const std::string intf = device + "/" + name + ":1.0", port = intf + "/" + tty;
    for (const std::string& p : {port + "/tty/" + tty, port, intf, device}) {
      umockdev_testbed_uevent(bed_, p.c_str(), "remove");
      umockdev_testbed_remove_device(bed_, p.c_str());
    }
  }

  static void Register() {
    static const uint16_t pids[] = {0x0000, 0x1234, 0x1235, 0x1237, 0xFFFF};
    YV_SERIAL_DEVICE_TYPE t{};
    t.TypeIndex = 0;
    t.Pids = pids;
    t.PidCount = 5;
    ASSERT_EQ(YV_RegSerialDevice(&t), S_OK);
  }

  // The application's notifier: arrivals and removals of the reader type.
  static YV_HANDLE Subscribe(NotifyRecorder& ARec) {
    YV_NOTIFY_SETTINGS s{};
    s.Flags = YV_NF_EXIST;
    s.Callback = NotifyRecorder::Callback;
    s.UserData = &ARec;
    s.SerialTypeMask = 1;
    YV_HANDLE h = nullptr;
    EXPECT_EQ(YV_FindNotification(&h, &s), S_OK);
    return h;
  }

  // The arrival, then the removal, of one port of the reader's type.
  static void ExpectCameAndWent(const std::vector<Notice>& got, int32_t type,
                                const std::u16string& name, const std::u16string& portName) {
    ASSERT_EQ(got.size(), 2u);
    for (int i = 0; i < 2; ++i) {
      const YV_PORT_INFO& info = got[i].exist.Info;
      EXPECT_EQ(got[i].kind, i == 0 ? YV_NMSG_ARRIVAL : YV_NMSG_REMOVAL);
      EXPECT_EQ(info.PortType, type);
      EXPECT_EQ(Text(info.Name), name);
      EXPECT_EQ(Text(info.PortName), portName);
      EXPECT_EQ(info.Busy, i);
      EXPECT_EQ(info.TypeMask, 1u);
    }
  }

  UMockdevTestbed* bed_ = nullptr;
};

TEST_F(TestBed, ReadersComeAndGoThroughTheKernelsEvents) {
  ASSERT_EQ(YV_Initialize(0), S_OK);
  Register();
  NotifyRecorder rec;
  YV_HANDLE h = Subscribe(rec);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(static_cast<ylvane::CYvDetector*>(ylvane::g_pDetector)->GetState().devNotify,
            ylvane::CYvDetector::DevNotify::Kernel);

  // Adding a device sends its "add"; the arrival waits for its port.
  const std::string other = AddDevice("1-2", "067b", "2303", "P1");
  const std::string reader = AddDevice("1-1", "0403", "1234", "UM1");
  AddPort(reader, "1-1", "ttyUSB0");
  ASSERT_TRUE(rec.WaitFor(1));
  // The same "add" once more is no second arrival.
  umockdev_testbed_uevent(bed_, reader.c_str(), "add");
  umockdev_testbed_uevent(bed_, other.c_str(), "add");
  umockdev_testbed_uevent(bed_, reader.c_str(), "remove");
  umockdev_testbed_remove_device(bed_, reader.c_str());
  ASSERT_TRUE(rec.WaitFor(2));
  EXPECT_FALSE(rec.WaitFor(3, 300));

  ExpectCameAndWent(rec.Got(), YV_PORT_FT, u"UM1", u"ttyUSB0");
  YV_CloseHandle(h);
  YV_Finalyze();
}

TEST_F(TestBed, AReaderWhosePortNeverComesArrivesWithoutOne) {
  ASSERT_EQ(YV_Initialize(0), S_OK);
  Register();
  NotifyRecorder rec;
  YV_HANDLE h = Subscribe(rec);
  ASSERT_NE(h, nullptr);
  AddDevice("1-3", "0403", "1237", "UM3");
  ASSERT_TRUE(rec.WaitFor(1));
  EXPECT_EQ(Text(rec.Got()[0].exist.Info.Name), u"UM3");
  EXPECT_EQ(Text(rec.Got()[0].exist.Info.PortName), u"");
  YV_CloseHandle(h);
  YV_Finalyze();
}

// A serial port that no serial number of a reader names is a plain port of
// the reader's type: it comes and goes by its tty name.
struct PlainCase {
  const char* name;
  const char* vendor;
  const char* product;
  const char* serial;
};

void PrintTo(const PlainCase& c, std::ostream* os) { *os << c.name; }

class PlainPorts : public TestBed, public ::testing::WithParamInterface<PlainCase> {};

TEST_P(PlainPorts, ComeAndGoThroughTheKernelsEventsByTheirTtyName) {
  const PlainCase& c = GetParam();
  ASSERT_EQ(YV_Initialize(0), S_OK);
  Register();
  NotifyRecorder rec;
  YV_HANDLE h = Subscribe(rec);
  ASSERT_NE(h, nullptr);
  const std::string device = AddDevice("1-4", c.vendor, c.product, c.serial);
  AddPort(device, "1-4", "ttyUSB2");
  ASSERT_TRUE(rec.WaitFor(1));
  Unplug(device, "1-4", "ttyUSB2");
  ASSERT_TRUE(rec.WaitFor(2));
  EXPECT_FALSE(rec.WaitFor(3, 300));

  ExpectCameAndWent(rec.Got(), YV_PORT_COM, u"ttyUSB2", u"");
  YV_CloseHandle(h);
  YV_Finalyze();
}

INSTANTIATE_TEST_SUITE_P(Devices, PlainPorts,
                         ::testing::Values(PlainCase{"ReaderWithoutSerialNumber", "0403", "1234", ""},
                                           PlainCase{"OtherMakersAdapter", "067b", "2303", ""},
                                           PlainCase{"OtherMakersAdapterWithSerialNumber", "10c4",
                                                     "ea60", "0001"},
                                           PlainCase{"FtdiDeviceOfAnotherProduct", "0403", "6001",
                                                     "A9"}),
                         [](const auto& info) { return std::string(info.param.name); });

YV_BOOL YV_CALL Collect(const YV_PORT_INFO* info, void* user) {
  static_cast<std::vector<YV_PORT_INFO>*>(user)->push_back(*info);
  return 1;
}

TEST_F(TestBed, TheListingReadsTheRealSysfsPaths) {
  const std::string reader = AddDevice("1-1", "0403", "1234", "UM2");
  AddPort(reader, "1-1", "ttyUSB0");
  AddDevice("1-2", "0403", "6001", "NOTASKED");
  ASSERT_EQ(YV_Initialize(0), S_OK);
  Register();
  std::vector<YV_PORT_INFO> got;
  ASSERT_EQ(YV_EnumSerialPorts(1, Collect, &got), S_OK);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].PortType, YV_PORT_FT);
  EXPECT_EQ(Text(got[0].Name), u"UM2");
  EXPECT_EQ(Text(got[0].PortName), u"ttyUSB0");
  EXPECT_EQ(got[0].Busy, 0);
  YV_Finalyze();
}

}  // namespace
