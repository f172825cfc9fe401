// Another program run by the tests, the benchmarks and the demo's helper:
// started with its own arguments and environment, optionally with its
// standard output on a pipe, waited for with a time limit and never left
// behind.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace testtools {

using Environment = std::vector<std::string>;  // "NAME=value" entries

// This process's environment.
Environment CurrentEnvironment();
// AEnv with NAME set to AValue (replaced when present).
Environment WithVariable(Environment AEnv, const std::string& AName, const std::string& AValue);
// AEnv without NAME.
Environment WithoutVariable(Environment AEnv, const std::string& AName);

class ChildProcess {
 public:
  // Starts AArgv[0] (looked up in PATH when it has no slash). With
  // ACaptureOut its standard output can be read with ReadOut(); with
  // ADropErr its standard error goes nowhere.
  ChildProcess(const std::vector<std::string>& AArgv, const Environment& AEnv, bool ACaptureOut = false,
               bool ADropErr = false);
  // A child still running is killed and reaped.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return m_pid > 0; }
  pid_t Pid() const { return m_pid; }
  // Waits at most ATimeoutMs for the child to end. Its exit code (128 plus
  // the signal number when a signal ended it), or nothing on time-out.
  std::optional<int> Wait(int ATimeoutMs);
  // Sends a signal while the child runs.
  void Signal(int ASignal);
  // Everything the child writes to its standard output until it closes
  // it, at most ATimeoutMs long.
  std::string ReadOut(int ATimeoutMs);
  // The next line of the child's standard output (without its line feed),
  // waiting at most ATimeoutMs for it; empty when none came.
  std::string ReadOutLine(int ATimeoutMs);

 private:
  std::string Read(int ATimeoutMs, bool AOneLine);

  pid_t m_pid = -1;
  int m_pidfd = -1;  // readable once the child has ended
  int m_out = -1;
  std::optional<int> m_status;
};

}  // namespace testtools
