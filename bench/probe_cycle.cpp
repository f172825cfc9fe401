// Device probing over 16 pty ports whose devices answer at once: the time
// of one YV_EnumSerialDevices scan (open, request, reply, recognition and
// release of every port) and the CPU time it costs.
//
//   bench_probe_cycle [scans]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "BenchStats.h"
#include "PtyDevice.h"
#include "ylvane.h"

namespace {

constexpr int kPorts = 16;

YV_BOOL YV_CALL Recognise(const void* reply, int32_t size, HRESULT* status, void*, YV_PORT_INFO*,
                          YV_ENUM_DEVICES_CALLBACK, void*) {
  if (!reply) return 0;
  const std::string r(static_cast<const char*>(reply), size);
  if (r.compare(0, 3, "YV-") == 0 && r.find('\r') != std::string::npos) return 1;
  if (r.find('\r') != std::string::npos) *status = YV_S_NOT_FOUND;
  return 0;
}

YV_BOOL YV_CALL Count(const void*, const YV_PORT_INFO*, void* user) {
  ++*static_cast<int*>(user);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const int scans = argc > 1 ? std::atoi(argv[1]) : 50;
  if (scans <= 0) {
    std::fprintf(stderr, "usage: bench_probe_cycle [scans > 0]\n");
    return 2;
  }
  if (YV_Initialize(0) != S_OK) return 1;
  const std::string request = "ID?\r";
  YV_SERIAL_DEVICE_TYPE t{};
  t.Request = request.data();
  t.RequestSize = static_cast<int32_t>(request.size());
  t.Callback = Recognise;
  t.DevDataSize = 16;
  t.BaudRate = 9600;
  t.EvChar = '\r';
  t.StopBits = 2;
  if (YV_RegSerialDevice(&t) != S_OK) return 1;

  std::vector<std::unique_ptr<PtyDevice>> devices;
  std::vector<YV_PORT_ID> ports;
  for (int i = 0; i < kPorts; ++i) {
    char id[16];
    std::snprintf(id, sizeof id, "YV-%04d\r", i);
    devices.push_back(std::make_unique<PtyDevice>(PtyDevice::Answers{{request, {{0, id}}}}));
    if (!devices.back()->Ok()) return 1;
    ports.push_back({YV_PORT_COM, devices.back()->Name()});
  }

  std::vector<double> ms;
  const double cpu0 = ProcessCpuMs();
  for (int s = 0; s < scans; ++s) {
    int found = 0;
    const auto t0 = std::chrono::steady_clock::now();
    const HRESULT hr = YV_EnumSerialDevices(1, ports.data(), kPorts, Count, &found, nullptr, 0);
    const auto t1 = std::chrono::steady_clock::now();
    if (hr != S_OK || found != kPorts) {
      std::fprintf(stderr, "scan %d: 0x%08x, %d of %d found\n", s, static_cast<unsigned>(hr),
                   found, kPorts);
      return 1;
    }
    ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  const double cpu = ProcessCpuMs() - cpu0;
  const BenchStats st = Summarise(ms);
  std::printf("ports            %d\n", kPorts);
  std::printf("scans            %d\n", scans);
  std::printf("scan median      %.2f ms\n", st.median);
  std::printf("scan p90         %.2f ms\n", st.p90);
  std::printf("scan max         %.2f ms\n", st.max);
  std::printf("CPU per scan     %.2f ms (the devices' threads included)\n", cpu / scans);
  devices.clear();
  YV_Finalyze();
  return 0;
}
