// The listing of serial ports on a fixture tree of 64 FTDI readers and 64
// plain serial ports: the time of one YV_EnumSerialPorts; then the CPU the
// device detector's worker uses while nothing happens.
//
//   bench_enum_ports [listings] [idle-seconds]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "BenchStats.h"
#include "SysfsFixture.h"
#include "YvSeams.h"
#include "ylvane.h"

namespace {

YV_BOOL YV_CALL Count(const YV_PORT_INFO*, void* user) {
  ++*static_cast<int*>(user);
  return 1;
}

YV_BOOL YV_CALL Ignore(uint32_t, const void*, void*) { return 1; }

}  // namespace

int main(int argc, char** argv) {
  const int listings = argc > 1 ? std::atoi(argv[1]) : 500;
  const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 10;
  if (listings <= 0 || idleSeconds < 0) {
    std::fprintf(stderr, "usage: bench_enum_ports [listings > 0] [idle-seconds >= 0]\n");
    return 2;
  }
  SysfsFixture fx;
  fx.SetFtdiDriver(true);
  for (int i = 0; i < 64; ++i) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "FT%05d", i);
    fx.AddUsb("1-" + std::to_string(i + 1), 0x0403, 0x1234, serial, "Reader",
              "ttyUSB" + std::to_string(i));
    fx.AddUart("ttyS" + std::to_string(i), 4);
  }
  ylvane::SetSysRoot(fx.SysRoot());
  ylvane::SetLockDir(fx.LockDir());
  if (YV_Initialize(0) != S_OK) return 1;
  static const uint16_t pids[] = {0x0000, 0x1234, 0x1235, 0x1237, 0xFFFF};
  YV_SERIAL_DEVICE_TYPE type{};
  type.Pids = pids;
  type.PidCount = 5;
  if (YV_RegSerialDevice(&type) != S_OK) return 1;

  std::vector<double> us;
  us.reserve(listings);
  for (int i = 0; i < listings; ++i) {
    int n = 0;
    auto t0 = std::chrono::steady_clock::now();
    HRESULT hr = YV_EnumSerialPorts(1, Count, &n);
    auto t1 = std::chrono::steady_clock::now();
    if (hr != S_OK || n != 128) {
      std::fprintf(stderr, "listing gave 0x%08x and %d ports, not 128\n", static_cast<unsigned>(hr),
                   n);
      return 1;
    }
    us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
  }
  const BenchStats st = Summarise(us);
  std::printf(
      "YV_EnumSerialPorts, 64 readers + 64 ports, %d listings: median %.0f us, "
      "p90 %.0f us, max %.0f us\n",
      listings, st.median, st.p90, st.max);

  // The application's notifier: arrivals and removals of its reader type.
  YV_NOTIFY_SETTINGS s{};
  s.Flags = YV_NF_EXIST;
  s.Callback = Ignore;
  s.SerialTypeMask = 1;
  YV_HANDLE notifier = nullptr;
  if (YV_FindNotification(&notifier, &s) != S_OK) return 1;
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the worker settles
  const double cpu0 = ProcessCpuMs();
  std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
  const double cpu1 = ProcessCpuMs();
  std::printf("idle detector worker: %.2f ms CPU over %d s\n", cpu1 - cpu0, idleSeconds);
  YV_CloseHandle(notifier);
  YV_Finalyze();
  return 0;
}
