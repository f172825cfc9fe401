// COM port on a pty: the time from the write of a line's LF on the device
// side to the port's receive event becoming readable, and the CPU time the
// port costs while the line is idle.
//
//   bench_com_latency [lines] [idle-seconds]
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchStats.h"
#include "Pty.h"
#include "ylvane.h"

namespace {

}  // namespace

int main(int argc, char** argv) {
  const int lines = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 10;
  if (lines <= 0 || idleSeconds < 0) {
    std::fprintf(stderr, "usage: bench_com_latency [lines > 0] [idle-seconds >= 0]\n");
    return 2;
  }
  TestPty pty;
  if (!pty.Ok() || YV_Initialize(0) != S_OK) return 1;
  YV_HANDLE port = nullptr;
  if (YV_Open(&port, pty.Name(), YV_PORT_COM, 9600, 10, 2) != S_OK) return 1;

  // A card line without its LF goes first, so only the LF is timed.
  const std::string body = "Mifare[04 A2 3B 11 22 80 00]\r";
  std::vector<double> us;
  us.reserve(lines);
  char buf[256];
  for (int i = 0; i < lines; ++i) {
    int ev = -1;
    if (YV_StartWaitEvent(port, &ev) != S_OK || !pty.Send(body)) return 1;
    auto t0 = std::chrono::steady_clock::now();
    if (!pty.Send("\n")) return 1;
    if (!Signalled(ev, 5000)) {
      std::fprintf(stderr, "line %d: no event\n", i);
      return 1;
    }
    auto t1 = std::chrono::steady_clock::now();
    us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    int32_t got = 0;
    YV_Read(port, buf, sizeof buf, &got);
  }
  const BenchStats st = Summarise(us);
  std::printf("lines            %d\n", lines);
  std::printf("LF->event median %.1f us\n", st.median);
  std::printf("LF->event p99    %.1f us\n", st.p99);
  std::printf("LF->event max    %.1f us\n", st.max);

  // Idle: the main thread sleeps, so the process's CPU time is the port's.
  double before = ProcessCpuMs();
  timespec idle{idleSeconds, 0};
  while (nanosleep(&idle, &idle) != 0) {
  }
  std::printf("idle CPU         %.3f ms over %d s\n", ProcessCpuMs() - before, idleSeconds);

  YV_CloseHandle(port);
  YV_Finalyze();
  return 0;
}
