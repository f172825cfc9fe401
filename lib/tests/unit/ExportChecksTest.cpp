// Argument checks of the exports, in the order the interface gives them.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "YvCom.h"
#include "YvLib.h"
#include "YvSeams.h"
#include "ylvane.h"

namespace {

YV_BOOL YV_CALL AnyPort(const YV_PORT_INFO*, void*) { return 1; }
YV_BOOL YV_CALL AnyDevice(const void*, const YV_PORT_INFO*, void*) { return 1; }
YV_BOOL YV_CALL AnyMessage(uint32_t, const void*, void*) { return 1; }
// Any call at all would turn the listing's S_OK into YV_S_CANCELED.
YV_BOOL YV_CALL CancelAtOnce(const YV_PORT_INFO*, void*) { return 0; }

// A library object of some other kind than a port (or a notifier).
class OtherObject final : public ylvane::IUnknown {
 public:
  HRESULT QueryInterface(const ylvane::YvIid&, void**) override { return E_NOINTERFACE; }
  uint32_t AddRef() override { return ++ref; }
  uint32_t Release() override { return --ref; }
  uint32_t ref = 1;
};

struct ExportCase {
  std::string name;
  std::function<HRESULT()> call;
  HRESULT expected;
};

void PrintTo(const ExportCase& c, std::ostream* os) { *os << c.name; }

class WithoutLibrary : public ::testing::TestWithParam<ExportCase> {};

TEST_P(WithoutLibrary, AnswersNotInitialized) {
  ASSERT_EQ(ylvane::CYvLib::Acquire(), nullptr);
  EXPECT_EQ(GetParam().call(), GetParam().expected);
}

// Stands for "the out handle was changed" where it must not be.
constexpr HRESULT kHandleChanged = static_cast<HRESULT>(0x8000FFFF);

YV_HANDLE g_untouched = reinterpret_cast<YV_HANDLE>(0x1234);
char16_t g_com[] = u"ttyS0";

INSTANTIATE_TEST_SUITE_P(
    Exports, WithoutLibrary,
    ::testing::Values(
        ExportCase{"EnumSerialPorts", [] { return YV_EnumSerialPorts(1, AnyPort, nullptr); },
                   YV_E_NOT_INITIALIZED},
        ExportCase{"FindNotification",
                   [] {
                     YV_NOTIFY_SETTINGS s{};
                     s.Flags = YV_NF_EXIST;
                     s.Callback = AnyMessage;
                     YV_HANDLE h = g_untouched;
                     HRESULT hr = YV_FindNotification(&h, &s);
                     return h == g_untouched ? hr : kHandleChanged;
                   },
                   YV_E_NOT_INITIALIZED},
        ExportCase{"ProcessMessages", [] { return YV_ProcessMessages(nullptr, nullptr, nullptr); },
                   YV_E_NOT_INITIALIZED},
        ExportCase{"OpenLeavesPortUntouched",
                   [] {
                     YV_HANDLE h = g_untouched;
                     HRESULT hr = YV_Open(&h, g_com, YV_PORT_COM, 9600, 10, 2);
                     return h == g_untouched ? hr : kHandleChanged;
                   },
                   YV_E_NOT_INITIALIZED},
        ExportCase{"RegSerialDevice", [] { return YV_RegSerialDevice(nullptr); },
                   YV_E_NOT_INITIALIZED},
        ExportCase{"EnumSerialDevices",
                   [] { return YV_EnumSerialDevices(1, nullptr, 0, AnyDevice, nullptr, nullptr, 0); },
                   YV_E_NOT_INITIALIZED},
        ExportCase{"FindSerialDevice",
                   [] {
                     char data[16];
                     return YV_FindSerialDevice(1, nullptr, 0, data, 16, nullptr, nullptr, 0);
                   },
                   YV_E_NOT_INITIALIZED},
        ExportCase{"RegIpDevice", [] { return YV_RegIpDevice(nullptr); }, YV_E_NOT_INITIALIZED},
        ExportCase{"EnumIpDevices",
                   [] { return YV_EnumIpDevices(1, AnyDevice, nullptr, nullptr, 0); },
                   YV_E_NOT_INITIALIZED},
        // The exceptions to the library-level shape.
        ExportCase{"FinalyzeWithoutObject", [] { return YV_Finalyze(); }, S_OK},
        ExportCase{"DeviceEventNotify", [] { return YV_DeviceEventNotify(0x8000, nullptr); }, S_OK},
        ExportCase{"CloseHandleNull", [] { return YV_CloseHandle(nullptr); }, E_INVALIDARG},
        // Port-level exports never look at the library object.
        ExportCase{"ReadNullHandle",
                   [] {
                     char b[4];
                     int32_t n;
                     return YV_Read(nullptr, b, 4, &n);
                   },
                   E_INVALIDARG}),
    [](const auto& info) { return info.param.name; });

class WithLibrary : public ::testing::TestWithParam<ExportCase> {
 protected:
  void SetUp() override { ASSERT_EQ(YV_Initialize(0), S_OK); }
  void TearDown() override { YV_Finalyze(); }
};

TEST_P(WithLibrary, ChecksArguments) { EXPECT_EQ(GetParam().call(), GetParam().expected); }

OtherObject g_other;
YV_HANDLE Other() { return static_cast<ylvane::IUnknown*>(&g_other); }

YV_SERIAL_DEVICE_TYPE SerialType() {
  YV_SERIAL_DEVICE_TYPE t{};
  t.BaudRate = 9600;
  return t;
}

YV_BOOL YV_CALL Recognise(const void*, int32_t, HRESULT*, void*, YV_PORT_INFO*,
                          YV_ENUM_DEVICES_CALLBACK, void*) {
  return 0;
}

const uint8_t kRequest[] = {0x55, 0xAA};

YV_IP_DEVICE_TYPE IpType() {
  YV_IP_DEVICE_TYPE t{};
  t.Request = kRequest;
  t.RequestSize = 2;
  t.Callback = Recognise;
  t.UdpPort = 4000;
  return t;
}

HRESULT Reg(YV_SERIAL_DEVICE_TYPE t) { return YV_RegSerialDevice(&t); }
HRESULT RegIp(YV_IP_DEVICE_TYPE t) { return YV_RegIpDevice(&t); }

YV_PORT_ID g_ports[] = {{YV_PORT_COM, u"ttyS0"}};
YV_PORT_ID g_badPorts[] = {{YV_PORT_COM, nullptr}};

INSTANTIATE_TEST_SUITE_P(
    Exports, WithLibrary,
    ::testing::Values(
        // Arguments that pass every check reach work that is not in the
        // library yet, which says so.
        // Nothing registered: nothing listed, not even plain ports.
        ExportCase{"EnumSerialPortsNothingRegistered",
                   [] { return YV_EnumSerialPorts(1, CancelAtOnce, nullptr); }, S_OK},
        // Nothing registered: the listed port is offered to no type.
        ExportCase{"EnumSerialDevicesValidList",
                   [] { return YV_EnumSerialDevices(1, g_ports, 1, AnyDevice, nullptr, nullptr, 0); },
                   S_OK},
        ExportCase{"FindSerialDeviceValidList",
                   [] {
                     char d[16];
                     YV_SCAN_PARAMS p{};
                     return YV_FindSerialDevice(1, g_ports, 1, d, 16, nullptr, &p, 1);
                   },
                   YV_S_NOT_FOUND},
        ExportCase{"EnumIpDevicesValid",
                   [] { return YV_EnumIpDevices(1, AnyDevice, nullptr, nullptr, 0); }, S_OK},
        ExportCase{"OpenFtdiKindWithoutDriverLibrary",
                   [] {
                     ylvane::SetFtLibraryPath("/nonexistent/libftd2xx.so");
                     YV_HANDLE h = g_untouched;
                     HRESULT hr = YV_Open(&h, u"FT123456", YV_PORT_FT, 9600, 10, 2);
                     ylvane::SetFtLibraryPath("libftd2xx.so");
                     return h == nullptr ? hr : kHandleChanged;
                   },
                   YV_E_FTD2XX_LOAD},
        ExportCase{"EnumSerialPortsNoCallback",
                   [] { return YV_EnumSerialPorts(1, nullptr, nullptr); }, E_INVALIDARG},
        ExportCase{"OpenNullOut", [] { return YV_Open(nullptr, g_com, 1, 9600, 10, 2); },
                   E_INVALIDARG},
        ExportCase{"OpenNullName",
                   [] {
                     YV_HANDLE h;
                     return YV_Open(&h, nullptr, 1, 9600, 10, 2);
                   },
                   E_INVALIDARG},
        ExportCase{"OpenTypeZero",
                   [] {
                     YV_HANDLE h;
                     return YV_Open(&h, g_com, 0, 9600, 10, 2);
                   },
                   E_INVALIDARG},
        ExportCase{"OpenTypeFive",
                   [] {
                     YV_HANDLE h = g_untouched;
                     HRESULT hr = YV_Open(&h, g_com, 5, 9600, 10, 2);
                     return h == nullptr ? hr : kHandleChanged;
                   },
                   E_INVALIDARG},
        ExportCase{"ReadOnOtherObject",
                   [] {
                     char b[4];
                     int32_t n;
                     return YV_Read(Other(), b, 4, &n);
                   },
                   E_INVALIDARG},
        ExportCase{"WriteOnOtherObject", [] { return YV_Write(Other(), "x", 1); }, E_INVALIDARG},
        ExportCase{"SetDtrNull", [] { return YV_SetDtr(nullptr, 1); }, E_INVALIDARG},
        ExportCase{"StartWaitOnOtherObject",
                   [] {
                     int ev;
                     return YV_StartWaitEvent(Other(), &ev);
                   },
                   E_INVALIDARG},
        ExportCase{"ProcessMessagesOnOtherObject",
                   [] { return YV_ProcessMessages(Other(), AnyMessage, nullptr); }, E_INVALIDARG},
        ExportCase{"ProcessMessagesNull",
                   [] { return YV_ProcessMessages(nullptr, AnyMessage, nullptr); }, E_INVALIDARG},
        ExportCase{"FindNotificationNullOut",
                   [] {
                     YV_NOTIFY_SETTINGS s{};
                     s.Flags = YV_NF_EXIST;
                     s.Callback = AnyMessage;
                     return YV_FindNotification(nullptr, &s);
                   },
                   E_INVALIDARG},
        ExportCase{"FindNotificationNullSettings",
                   [] {
                     YV_HANDLE h;
                     return YV_FindNotification(&h, nullptr);
                   },
                   E_INVALIDARG},
        ExportCase{"FindNotificationNoCallback",
                   [] {
                     YV_NOTIFY_SETTINGS s{};
                     s.Flags = YV_NF_EXIST;
                     YV_HANDLE h;
                     return YV_FindNotification(&h, &s);
                   },
                   E_INVALIDARG},
        ExportCase{"FindNotificationProbeOnly",
                   [] {
                     YV_NOTIFY_SETTINGS s{};
                     s.Flags = YV_NF_PROBE;
                     s.Callback = AnyMessage;
                     YV_HANDLE h;
                     return YV_FindNotification(&h, &s);
                   },
                   E_INVALIDARG},
        ExportCase{"FindNotificationWndSyncWithWindow",
                   [] {
                     YV_NOTIFY_SETTINGS s{};
                     s.Flags = YV_NF_WNDSYNC;
                     s.Callback = AnyMessage;
                     YV_HANDLE h;
                     return YV_FindNotification(&h, &s);
                   },
                   E_INVALIDARG},
        ExportCase{"EnumSerialDevicesMaskZero",
                   [] { return YV_EnumSerialDevices(0, nullptr, 0, AnyDevice, nullptr, nullptr, 0); },
                   E_INVALIDARG},
        ExportCase{"EnumSerialDevicesNoCallback",
                   [] { return YV_EnumSerialDevices(1, nullptr, 0, nullptr, nullptr, nullptr, 0); },
                   E_INVALIDARG},
        ExportCase{"EnumSerialDevicesListCountZero",
                   [] { return YV_EnumSerialDevices(1, g_ports, 0, AnyDevice, nullptr, nullptr, 0); },
                   E_INVALIDARG},
        ExportCase{"EnumSerialDevicesListNullName",
                   [] {
                     return YV_EnumSerialDevices(1, g_badPorts, 1, AnyDevice, nullptr, nullptr, 0);
                   },
                   E_INVALIDARG},
        ExportCase{"FindSerialDeviceMaskZero",
                   [] {
                     char d[16];
                     return YV_FindSerialDevice(0, nullptr, 0, d, 16, nullptr, nullptr, 0);
                   },
                   E_INVALIDARG},
        ExportCase{"FindSerialDeviceNoData",
                   [] { return YV_FindSerialDevice(1, nullptr, 0, nullptr, 16, nullptr, nullptr, 0); },
                   E_INVALIDARG},
        ExportCase{"FindSerialDeviceSize15",
                   [] {
                     char d[16];
                     return YV_FindSerialDevice(1, nullptr, 0, d, 15, nullptr, nullptr, 0);
                   },
                   E_INVALIDARG},
        ExportCase{"FindSerialDeviceSizeNegative",
                   [] {
                     char d[16];
                     return YV_FindSerialDevice(1, nullptr, 0, d, -1, nullptr, nullptr, 0);
                   },
                   E_INVALIDARG},
        ExportCase{"FindSerialDeviceListCountZero",
                   [] {
                     char d[16];
                     return YV_FindSerialDevice(1, g_ports, 0, d, 16, nullptr, nullptr, 0);
                   },
                   E_INVALIDARG},
        ExportCase{"EnumIpDevicesMaskZero",
                   [] { return YV_EnumIpDevices(0, AnyDevice, nullptr, nullptr, 0); }, E_INVALIDARG},
        ExportCase{"EnumIpDevicesNoCallback",
                   [] { return YV_EnumIpDevices(1, nullptr, nullptr, nullptr, 0); }, E_INVALIDARG},
        ExportCase{"RegSerialNull", [] { return YV_RegSerialDevice(nullptr); }, E_INVALIDARG},
        ExportCase{"RegSerialIndex32",
                   [] {
                     auto t = SerialType();
                     t.TypeIndex = 32;
                     return Reg(t);
                   },
                   E_INVALIDARG},
        ExportCase{"RegSerialIndex31",
                   [] {
                     auto t = SerialType();
                     t.TypeIndex = 31;
                     return Reg(t);
                   },
                   S_OK},
        ExportCase{"RegSerialRequestSizeZero",
                   [] {
                     auto t = SerialType();
                     t.Request = kRequest;
                     t.Callback = Recognise;
                     return Reg(t);
                   },
                   E_INVALIDARG},
        ExportCase{"RegSerialRequestWithoutCallback",
                   [] {
                     auto t = SerialType();
                     t.Request = kRequest;
                     t.RequestSize = 2;
                     return Reg(t);
                   },
                   E_INVALIDARG},
        ExportCase{"RegSerialNoRequestNoCallback", [] { return Reg(SerialType()); }, S_OK},
        ExportCase{"RegSerialNegativePidCount",
                   [] {
                     static const uint16_t pids[] = {1};
                     auto t = SerialType();
                     t.Pids = pids;
                     t.PidCount = -1;
                     return Reg(t);
                   },
                   E_INVALIDARG},
        ExportCase{"RegSerialNegativeDevDataSize",
                   [] {
                     auto t = SerialType();
                     t.DevDataSize = -4;
                     return Reg(t);
                   },
                   E_INVALIDARG},
        ExportCase{"RegIpNull", [] { return YV_RegIpDevice(nullptr); }, E_INVALIDARG},
        ExportCase{"RegIpValid", [] { return RegIp(IpType()); }, S_OK},
        ExportCase{"RegIpIndex32",
                   [] {
                     auto t = IpType();
                     t.TypeIndex = 32;
                     return RegIp(t);
                   },
                   E_INVALIDARG},
        ExportCase{"RegIpNoRequest",
                   [] {
                     auto t = IpType();
                     t.Request = nullptr;
                     return RegIp(t);
                   },
                   E_INVALIDARG},
        ExportCase{"RegIpRequestSizeZero",
                   [] {
                     auto t = IpType();
                     t.RequestSize = 0;
                     return RegIp(t);
                   },
                   E_INVALIDARG},
        ExportCase{"RegIpNoCallback",
                   [] {
                     auto t = IpType();
                     t.Callback = nullptr;
                     return RegIp(t);
                   },
                   E_INVALIDARG},
        ExportCase{"RegIpUdpPortZero",
                   [] {
                     auto t = IpType();
                     t.UdpPort = 0;
                     return RegIp(t);
                   },
                   E_INVALIDARG},
        ExportCase{"RegIpUdpPortHighBitsOnly",
                   [] {
                     auto t = IpType();
                     t.UdpPort = 0x10000;
                     return RegIp(t);
                   },
                   S_OK},
        ExportCase{"RegIpNegativeDevDataSize",
                   [] {
                     auto t = IpType();
                     t.DevDataSize = -1;
                     return RegIp(t);
                   },
                   E_INVALIDARG}),
    [](const auto& info) { return info.param.name; });

}  // namespace
