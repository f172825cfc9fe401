// The program at rest: the real sorvex binary started on an X server
// against a pty that plays the card reader, and no card. Reports the time
// from the start to the window being shown and to the port being open
// (median of several starts), then, for the last start, the CPU time it
// uses and the wake-ups (context switches) it makes over an idle period,
// and its resident memory.
//
// Run it under an X server of its own:
//   app/tests/with-xvfb $PWD/build/bench/bench_app_idle [idle-seconds] [starts]
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchStats.h"
#include "tools/ChildProcess.h"
#include "tools/ProgramHome.h"
#include "tools/VirtualReader.h"
#include "x11/XProbe.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

std::string ReadFile(const fs::path& APath) {
  std::ifstream in(APath);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct ThreadUsage {
  double runSec = 0;  // time on a CPU
  long switches = 0;  // voluntary and forced context switches: its wake-ups
};

struct Usage {
  double cpuSec = 0;  // user + system of the whole process (clock ticks), ended threads included
  std::map<std::string, ThreadUsage> threads;  // by thread id
};

Usage UsageOf(pid_t APid) {
  Usage usage;
  const fs::path proc = "/proc/" + std::to_string(APid);
  // utime and stime: fields 14 and 15, counted after the command's ")".
  const std::string stat = ReadFile(proc / "stat");
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  long ticks = 0;
  for (int n = 3; n <= 15 && fields >> field; ++n)
    if (n >= 14) ticks += std::atol(field.c_str());
  usage.cpuSec = double(ticks) / double(sysconf(_SC_CLK_TCK));
  std::error_code ec;
  for (const auto& task : fs::directory_iterator(proc / "task", ec)) {
    ThreadUsage& thread = usage.threads[task.path().filename()];
    thread.runSec = std::atof(ReadFile(task.path() / "schedstat").c_str()) / 1e9;
    std::istringstream status(ReadFile(task.path() / "status"));
    for (std::string line; std::getline(status, line);)
      if (line.find("ctxt_switches:") != std::string::npos)
        thread.switches += std::atol(line.substr(line.find(':') + 1).c_str());
  }
  return usage;
}

// What the threads alive at AAfter did since ABefore (all of it for those
// started since); AEnded counts the threads that ended meanwhile, whose
// share is only in the process's clock ticks.
ThreadUsage Since(const Usage& ABefore, const Usage& AAfter, int& AEnded) {
  ThreadUsage sum;
  for (const auto& [tid, now] : AAfter.threads) {
    const auto was = ABefore.threads.find(tid);
    sum.runSec += now.runSec - (was != ABefore.threads.end() ? was->second.runSec : 0);
    sum.switches += now.switches - (was != ABefore.threads.end() ? was->second.switches : 0);
  }
  AEnded = 0;
  for (const auto& entry : ABefore.threads) AEnded += AAfter.threads.count(entry.first) ? 0 : 1;
  return sum;
}

// A "Vm...:" line of the process's status, in kB.
long StatusKb(pid_t APid, const std::string& AKey) {
  std::istringstream status(ReadFile("/proc/" + std::to_string(APid) + "/status"));
  for (std::string line; std::getline(status, line);)
    if (line.rfind(AKey + ":", 0) == 0) return std::atol(line.substr(AKey.size() + 1).c_str());
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int idle = argc > 1 ? std::atoi(argv[1]) : 60;
  const int starts = argc > 2 ? std::atoi(argv[2]) : 5;
  if (idle <= 0 || starts <= 0) {
    std::fprintf(stderr, "usage: bench_app_idle [idle-seconds > 0] [starts > 0]\n");
    return 2;
  }
  x11test::XProbe probe;
  if (!probe.Ok()) {
    std::fprintf(stderr, "bench_app_idle: no X display; run it under app/tests/with-xvfb\n");
    return 1;
  }

  std::vector<double> shown, opened;
  for (int run = 0; run < starts; ++run) {
    testtools::ProgramHome home;
    testtools::VirtualReader reader;
    if (!home.Ok() || !reader.Ok()) return 1;
    home.WriteSettings("TransMethod=0\nTransLog=1\n");
    const auto t0 = Clock::now();
    testtools::ChildProcess program({SORVEX_PROGRAM, "-p" + reader.PortName()}, home.ProgramEnvironment());
    if (!program.Started() ||
        !probe.WaitWindow(program.Pid(), x11test::XProbe::Kind::Main, "Sorvex", 30000)) {
      std::fprintf(stderr, "bench_app_idle: the window did not appear\n");
      return 1;
    }
    shown.push_back(Ms(Clock::now() - t0));
    if (!reader.WaitOpened(30000)) {
      std::fprintf(stderr, "bench_app_idle: the port was not opened\n");
      return 1;
    }
    opened.push_back(Ms(Clock::now() - t0));

    if (run == starts - 1) {
      const pid_t pid = program.Pid();
      // Start-up work (fonts, the deferred start) settles first.
      std::this_thread::sleep_for(std::chrono::seconds(2));
      const Usage before = UsageOf(pid);
      std::this_thread::sleep_for(std::chrono::seconds(idle));
      const Usage after = UsageOf(pid);
      std::printf("start to window shown:  first %.1f ms, median %.1f ms (%d starts)\n", shown.front(),
                  Summarise(shown).median, starts);
      std::printf("start to port open:     first %.1f ms, median %.1f ms\n", opened.front(), Summarise(opened).median);
      int ended = 0;
      const ThreadUsage threads = Since(before, after, ended);
      std::printf("idle %d s, no cards:     CPU %.2f s (process clock ticks); threads: %.4f s on a CPU,"
                  " %ld wake-ups, %d ended\n",
                  idle, after.cpuSec - before.cpuSec, threads.runSec, threads.switches, ended);
      std::printf("resident memory:        %ld kB now, %ld kB at most\n", StatusKb(pid, "VmRSS"),
                  StatusKb(pid, "VmHWM"));
    }
    program.Signal(SIGTERM);
    program.WaitExit(10000);
  }
  return 0;
}
