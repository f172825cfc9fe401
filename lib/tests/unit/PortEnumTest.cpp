// The listing of serial ports and FTDI devices on fixture sysfs trees, with
// and without our stand-in FTDI driver library.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "../common/SysfsFixture.h"
#include "YvPortEnum.h"
#include "YvSeams.h"
#include "ylvane.h"

namespace {

struct Listed {
  int type;
  std::u16string name;
  int busy;
  std::u16string portName;
  uint32_t mask;
  bool operator==(const Listed&) const = default;
};

std::string Narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }

void PrintTo(const Listed& l, std::ostream* os) {
  *os << "{" << l.type << " " << Narrow(l.name) << " busy=" << l.busy
      << " port=" << Narrow(l.portName) << " mask=0x" << std::hex << l.mask << "}";
}

Listed Ft(const std::u16string& serial, const std::u16string& tty, uint32_t mask, int busy = 0) {
  return {YV_PORT_FT, serial, busy, tty, mask};
}
Listed Com(const std::u16string& name, uint32_t mask, int busy = 0) {
  return {YV_PORT_COM, name, busy, u"", mask};
}

YV_BOOL YV_CALL Collect(const YV_PORT_INFO* info, void* user) {
  static_cast<std::vector<Listed>*>(user)->push_back(
      {info->PortType, info->Name, info->Busy, info->PortName, info->TypeMask});
  return 1;
}

// A process id that certainly names no process: a child that has been reaped.
// A process id no process has: the kernel hands out ids below pid_max
// only. (The id of a child that has ended could be given to a new process
// at once on a busy machine.)
pid_t DeadPid() {
  long max = 4194304;
  if (FILE* f = std::fopen("/proc/sys/kernel/pid_max", "r")) {
    if (std::fscanf(f, "%ld", &max) != 1) max = 4194304;
    std::fclose(f);
  }
  return static_cast<pid_t>(max);
}

class PortListing : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(YV_Initialize(0), S_OK);
    ylvane::SetSysRoot(fx_.SysRoot());
    ylvane::SetLockDir(fx_.LockDir());
    ylvane::SetFtLibraryPath("/nonexistent/libftd2xx.so");
  }
  void TearDown() override {
    YV_Finalyze();
    ylvane::SetSysRoot("/sys");
    ylvane::SetLockDir("/var/lock");
    ylvane::SetFtLibraryPath("libftd2xx.so");
  }

  static void Register(uint32_t slot, const std::vector<uint16_t>& pids,
                       const char16_t* filter = nullptr) {
    YV_SERIAL_DEVICE_TYPE t{};
    t.TypeIndex = slot;
    t.Pids = pids.data();
    t.PidCount = static_cast<int32_t>(pids.size());
    t.DescFilter = filter;
    ASSERT_EQ(YV_RegSerialDevice(&t), S_OK);
  }

  static std::vector<Listed> List(uint32_t mask, HRESULT expected = S_OK) {
    std::vector<Listed> got;
    EXPECT_EQ(YV_EnumSerialPorts(mask, Collect, &got), expected);
    return got;
  }

  // The machine of most cases: two readers, an FTDI device of a product id
  // no type lists, a USB serial adapter of another vendor, UARTs (one a
  // placeholder), a modem port and a virtual console.
  void Machine() {
    fx_.SetFtdiDriver(true);
    fx_.AddUsb("1-1", 0x0403, 0x1234, "A5", "Reader", "ttyUSB0");
    fx_.AddUsb("1-2", 0x0403, 0x1237, "A7", "Reader", "ttyUSB1");
    fx_.AddUsb("1-3", 0x0403, 0x6001, "Z9", "Other", "ttyUSB2");
    fx_.AddUsb("1-4", 0x067b, 0x2303, "P1", "Adapter", "ttyUSB3");
    fx_.AddUart("ttyS0", 4);
    fx_.AddUart("ttyS1", 4);
    fx_.AddUart("ttyS2", 0);
    fx_.AddUart("ttyS9", 4);
    fx_.AddUart("ttyS10", 4);
    fx_.AddSerialTty("ttyACM0");
    fx_.AddVirtualTty("tty1");
  }

  SysfsFixture fx_;
};

TEST_F(PortListing, NothingIsListedWithoutARegisteredType) {
  Machine();
  EXPECT_TRUE(List(1).empty());
  // A registered type without product ids lists nothing either.
  YV_SERIAL_DEVICE_TYPE t{};
  t.TypeIndex = 0;
  ASSERT_EQ(YV_RegSerialDevice(&t), S_OK);
  EXPECT_TRUE(List(1).empty());
  Register(1, {0x0000});
  EXPECT_TRUE(List(1).empty());  // slot 1 is not asked for
}

struct PidCase {
  const char* name;
  std::vector<uint16_t> pids;
  bool ftdiDriver;
  std::vector<Listed> expected;
};

void PrintTo(const PidCase& c, std::ostream* os) { *os << c.name; }

class ProductIdLists : public PortListing, public ::testing::WithParamInterface<PidCase> {};

TEST_P(ProductIdLists, SelectDevicesAndPlainPorts) {
  Machine();
  fx_.SetFtdiDriver(GetParam().ftdiDriver);
  Register(0, GetParam().pids);
  EXPECT_EQ(List(1), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Application, ProductIdLists,
    ::testing::Values(
        // Readers by serial number descending, each once with its tty; then
        // every serial port in name order, the placeholder and the virtual
        // console left out, the unlisted FTDI device's tty as a plain port.
        PidCase{"AllOfTheApplication",
                {0x1237, 0x0000, 0xFFFF, 0x1234, 0x1235},  // in any order
                true,
                {Ft(u"A7", u"ttyUSB1", 1), Ft(u"A5", u"ttyUSB0", 1), Com(u"ttyACM0", 1),
                 Com(u"ttyS0", 1), Com(u"ttyS1", 1), Com(u"ttyS9", 1), Com(u"ttyS10", 1),
                 Com(u"ttyUSB2", 1), Com(u"ttyUSB3", 1)}},
        PidCase{"WithoutFirstUarts",
                {0x0000, 0x1234, 0x1235, 0x1237},
                true,
                {Ft(u"A7", u"ttyUSB1", 1), Ft(u"A5", u"ttyUSB0", 1), Com(u"ttyACM0", 1),
                 Com(u"ttyS9", 1), Com(u"ttyS10", 1), Com(u"ttyUSB2", 1), Com(u"ttyUSB3", 1)}},
        PidCase{"WithoutPlainPorts",
                {0x1234, 0x1235, 0x1237, 0xFFFF},
                true,
                {Ft(u"A7", u"ttyUSB1", 1), Ft(u"A5", u"ttyUSB0", 1)}},
        // Without the kernel's FTDI driver the plain ports are listed all the
        // same, for every type but the last.
        PidCase{"WithoutPlainPortsOrFtdiDriver",
                {0x1234, 0xFFFF},
                false,
                {Ft(u"A5", u"ttyUSB0", 1), Com(u"ttyACM0", 0x7FFFFFFF), Com(u"ttyS0", 0x7FFFFFFF),
                 Com(u"ttyS1", 0x7FFFFFFF), Com(u"ttyS9", 0x7FFFFFFF), Com(u"ttyS10", 0x7FFFFFFF),
                 Com(u"ttyUSB1", 0x7FFFFFFF), Com(u"ttyUSB2", 0x7FFFFFFF),
                 Com(u"ttyUSB3", 0x7FFFFFFF)}}),
    [](const auto& info) { return std::string(info.param.name); });

// Whether the kernel's FTDI serial driver is installed: loaded, built in, or
// in the running kernel's module tree. Only without it are plain ports
// listed for a type that does not ask for them.
struct ModuleCase {
  const char* name;
  void (*place)(SysfsFixture& fx);
  bool installed;
};

void PrintTo(const ModuleCase& c, std::ostream* os) { *os << c.name; }

class FtdiDriverInstalled : public PortListing, public ::testing::WithParamInterface<ModuleCase> {};

TEST_P(FtdiDriverInstalled, DecidesWhetherPlainPortsAreListed) {
  fx_.AddSerialTty("ttyACM0");
  fx_.AddUart("ttyS9", 4);
  GetParam().place(fx_);
  Register(0, {0x1234});
  const std::vector<Listed> plain = {Com(u"ttyACM0", 0x7FFFFFFF), Com(u"ttyS9", 0x7FFFFFFF)};
  EXPECT_EQ(List(1), GetParam().installed ? std::vector<Listed>{} : plain);
}

INSTANTIATE_TEST_SUITE_P(
    Kernel, FtdiDriverInstalled,
    ::testing::Values(
        ModuleCase{"Nowhere", [](SysfsFixture&) {}, false},
        ModuleCase{"Loaded", [](SysfsFixture& fx) { fx.SetFtdiDriver(true); }, true},
        ModuleCase{"ListedBySysfs", [](SysfsFixture& fx) { fx.AddModule("ftdi_sio"); }, true},
        ModuleCase{"BuiltIn",
                   [](SysfsFixture& fx) {
                     fx.WriteModuleList("modules.builtin",
                                        "kernel/drivers/usb/serial/usbserial.ko\n"
                                        "kernel/drivers/usb/serial/ftdi_sio.ko\n");
                   },
                   true},
        ModuleCase{"InTheModuleTree",
                   [](SysfsFixture& fx) {
                     fx.WriteModuleList("modules.builtin", "kernel/fs/ext4/ext4.ko\n");
                     fx.WriteModuleList("modules.dep",
                                        "kernel/drivers/usb/serial/usbserial.ko.xz:\n"
                                        "kernel/drivers/usb/serial/ftdi_sio.ko.xz: "
                                        "kernel/drivers/usb/serial/usbserial.ko.xz");
                   },
                   true},
        ModuleCase{"OnlyOtherModules",
                   [](SysfsFixture& fx) {
                     fx.WriteModuleList("modules.dep",
                                        "kernel/drivers/usb/serial/pl2303.ko: "
                                        "kernel/drivers/usb/serial/usbserial.ko\n"
                                        "kernel/drivers/usb/serial/ftdi_sio_new.ko:\n"
                                        "kernel/drivers/usb/serial/usbserial.ko:\n");
                   },
                   false},
        ModuleCase{"InAnotherKernelsTree",
                   [](SysfsFixture& fx) {
                     fx.WriteModuleList("modules.dep", "kernel/drivers/usb/serial/ftdi_sio.ko:\n",
                                        "0.0.0-another");
                   },
                   false}),
    [](const auto& info) { return std::string(info.param.name); });

// The driver, installed but not loaded, is loaded when the first reader
// comes: the plain ports stay as they were listed, so no one is told they
// went.
TEST_F(PortListing, PlainPortsStayAsTheyWereWhenAReaderArrives) {
  fx_.AddUart("ttyS9", 4);
  fx_.WriteModuleList("modules.dep", "kernel/drivers/usb/serial/ftdi_sio.ko:\n");
  Register(0, {0x1234});
  EXPECT_TRUE(List(1).empty());
  fx_.SetFtdiDriver(true);
  fx_.AddUsb("1-1", 0x0403, 0x1234, "A5", "Reader", "ttyUSB0");
  EXPECT_EQ(List(1), std::vector<Listed>{Ft(u"A5", u"ttyUSB0", 1)});
}

// A kernel package installed while the library runs changes the module
// tree: the next listing reads it afresh.
TEST_F(PortListing, AModuleTreeChangedMeanwhileIsReadAfresh) {
  fx_.AddUart("ttyS9", 4);
  fx_.WriteModuleList("modules.dep", "kernel/drivers/usb/serial/pl2303.ko:\n");
  Register(0, {0x1234});
  EXPECT_EQ(List(1), std::vector<Listed>{Com(u"ttyS9", 0x7FFFFFFF)});
  fx_.WriteModuleList("modules.dep", "kernel/drivers/usb/serial/pl2303.ko:\n"
                                     "kernel/drivers/usb/serial/ftdi_sio.ko:\n");
  EXPECT_TRUE(List(1).empty());
}

TEST_F(PortListing, SerialNumbersDescendByCodeUnitAndUnnamedDevicesAreLeftOut) {
  fx_.SetFtdiDriver(true);
  fx_.AddUsb("1-1", 0x0403, 0x1234, "FT00A1B", "R", "ttyUSB0");
  fx_.AddUsb("1-2", 0x0403, 0x1234, "ft00a1a", "R", "");  // no driver bound: no tty
  fx_.AddUsb("1-3", 0x0403, 0x1234, "FT00A1C", "R", "ttyUSB1");
  fx_.AddUsb("1-4", 0x0403, 0x1234, "", "R", "ttyUSB2");  // no serial number
  fx_.AddUsb("1-5", 0x0403, 0x1234, std::string(32, 'L'), "R", "ttyUSB3");
  Register(0, {0x1234});
  EXPECT_EQ(List(1), (std::vector<Listed>{Ft(u"ft00a1a", u"", 1), Ft(u"FT00A1C", u"ttyUSB1", 1),
                                          Ft(u"FT00A1B", u"ttyUSB0", 1)}));
}

TEST_F(PortListing, ACallbackThatSaysStopCancels) {
  Machine();
  Register(0, {0x0000, 0x1234});
  int calls = 0;
  auto stop = [](const YV_PORT_INFO*, void* user) YV_CALL -> YV_BOOL {
    ++*static_cast<int*>(user);
    return 0;
  };
  EXPECT_EQ(YV_EnumSerialPorts(1, stop, &calls), YV_S_CANCELED);
  EXPECT_EQ(calls, 1);
}

TEST_F(PortListing, LockFilesOfLiveProcessesMarkPortsBusy) {
  Machine();
  Register(0, {0x0000, 0x1234, 0x1237, 0xFFFF});
  const int32_t self = static_cast<int32_t>(getpid());
  char binary[4];
  std::memcpy(binary, &self, sizeof binary);
  fx_.WriteLock("ttyUSB0", "      " + std::to_string(self) + "\n");  // the usual ASCII form
  fx_.WriteLock("ttyS0", std::string(binary, 4));                    // the old binary form
  fx_.WriteLock("ttyS1", std::to_string(DeadPid()) + "\n");          // stale
  fx_.WriteLock("ttyS9", "garbage\n");
  std::vector<Listed> got = List(1);
  auto busy = [&](const std::u16string& name) {
    for (const Listed& l : got)
      if (l.name == name) return l.busy;
    return -1;
  };
  EXPECT_EQ(busy(u"A5"), 1);  // through its tty
  EXPECT_EQ(busy(u"A7"), 0);
  EXPECT_EQ(busy(u"ttyS0"), 1);
  EXPECT_EQ(busy(u"ttyS1"), 0);
  EXPECT_EQ(busy(u"ttyS9"), 0);
  EXPECT_EQ(busy(u"ttyS10"), 0);
}

TEST_F(PortListing, ADescriptionFilterIsCheckedOnSysfsDevices) {
  fx_.SetFtdiDriver(true);
  fx_.AddUsb("1-1", 0x0403, 0x1234, "D1", "Reader B", "ttyUSB0");
  fx_.AddUsb("1-2", 0x0403, 0x1234, "D2", "Reader A", "ttyUSB1");
  Register(0, {0x1234}, u"Reader A");
  Register(1, {0x6001}, u"Reader B");
  // D1's product id is type 0's, its description only type 1's: without the
  // driver library's list it is no device of the types asked for.
  EXPECT_EQ(List(3), (std::vector<Listed>{Ft(u"D2", u"ttyUSB1", 1)}));
}

TEST_F(PortListing, BusDescriptionOfAPresentDevice) {
  fx_.AddUsb("1-1", 0x0403, 0x1234, "D1", "Reader B", "ttyUSB0");
  std::u16string desc = u"stale";
  EXPECT_EQ(ylvane::GetFtdiBusDescription(desc, u"D1", 0x1234), S_OK);
  EXPECT_EQ(desc, u"Reader B");
  for (auto [serial, pid] : {std::pair{u"D1", 0x1235}, std::pair{u"d1", 0x1234}}) {
    EXPECT_EQ(ylvane::GetFtdiBusDescription(desc, serial, static_cast<uint16_t>(pid)), S_OK);
    EXPECT_TRUE(desc.empty());
  }
}

// With our stand-in driver library, whose list is merged with sysfs.
class DriverListing : public PortListing {
 protected:
  void SetUp() override {
    PortListing::SetUp();
    // Kept loaded so that its list survives the library's own loads.
    fake_ = dlopen(FAKE_FTD2XX_PATH, RTLD_NOW);
    ASSERT_NE(fake_, nullptr) << dlerror();
    reset_ = reinterpret_cast<void (*)(uint32_t, uint32_t)>(dlsym(fake_, "FakeFt_ResetDevices"));
    add_ = reinterpret_cast<void (*)(uint32_t, uint32_t, const char*, const char*)>(
        dlsym(fake_, "FakeFt_AddDevice"));
    ASSERT_TRUE(reset_ && add_);
    reset_(0, 0);
    ylvane::SetFtLibraryPath(FAKE_FTD2XX_PATH);
  }
  void TearDown() override {
    if (reset_) reset_(0, 0);
    if (fake_) dlclose(fake_);
    PortListing::TearDown();
  }
  void* fake_ = nullptr;
  void (*reset_)(uint32_t, uint32_t) = nullptr;
  void (*add_)(uint32_t, uint32_t, const char*, const char*) = nullptr;
};

TEST_F(DriverListing, ItsListIsTakenWithProductIdsAndTtysFromSysfs) {
  Machine();
  Register(0, {0x1234, 0x1237});
  add_(1, 5, "A5", "Reader");  // opened by someone: busy
  add_(0, 5, "Q1", "Reader");  // not present in sysfs: dropped
  add_(0, 6, "A7", "Reader");  // another chip type: not taken
  add_(0, 5, "Z9", "Other");   // product id not asked for: dropped
  EXPECT_EQ(List(1), (std::vector<Listed>{Ft(u"A5", u"ttyUSB0", 1, 1)}));

  // A device opened elsewhere whose type the library cannot tell makes the
  // devices it did not describe come from sysfs.
  add_(1, 3, "", "");
  EXPECT_EQ(List(1), (std::vector<Listed>{Ft(u"A7", u"ttyUSB1", 1), Ft(u"A5", u"ttyUSB0", 1, 1)}));
}

TEST_F(DriverListing, AnEmptyListHidesSysfsDevicesButNotPlainPorts) {
  Machine();
  Register(0, {0x0000, 0x1234, 0x1237});
  std::vector<Listed> got = List(1);
  ASSERT_FALSE(got.empty());
  for (const Listed& l : got) EXPECT_EQ(l.type, YV_PORT_COM) << Narrow(l.name);
}

TEST_F(DriverListing, AFailingListListsNothing) {
  Machine();
  Register(0, {0x0000, 0x1234});
  for (auto [create, get] : {std::pair{4u, 0u}, std::pair{0u, 4u}}) {
    reset_(create, get);
    add_(0, 5, "A5", "Reader");
    EXPECT_TRUE(List(1, E_FAIL).empty());
  }
}

TEST_F(DriverListing, ADescriptionMatchingAnotherTypeStillListsWithMaskZero) {
  fx_.SetFtdiDriver(true);
  fx_.AddUsb("1-1", 0x0403, 0x1234, "D1", "Reader B", "ttyUSB0");
  Register(0, {0x1234}, u"Reader A");
  Register(1, {0x6001}, u"Reader B");
  add_(0, 5, "D1", "Reader B");
  EXPECT_EQ(List(3), (std::vector<Listed>{Ft(u"D1", u"ttyUSB0", 0)}));
}

TEST_F(DriverListing, FullWidthTextsWithoutTerminatorAreRead) {
  fx_.SetFtdiDriver(true);
  fx_.AddUsb("1-1", 0x0403, 0x1234, "0123456789ABCDEF", std::string(64, 'd'), "ttyUSB0");
  Register(0, {0x1234}, std::u16string(64, u'd').c_str());
  add_(0, 5, "0123456789ABCDEF", std::string(64, 'd').c_str());
  EXPECT_EQ(List(1), (std::vector<Listed>{Ft(u"0123456789ABCDEF", u"ttyUSB0", 1)}));
}

}  // namespace
