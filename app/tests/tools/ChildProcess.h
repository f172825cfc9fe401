// Another program run by the tests, the benchmarks and the demo's helper:
// started with its own arguments and environment, optionally with its
// standard input on a pipe and its standard output read line by line or
// whole, waited for with a time limit and never left behind.
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

// Where the child's standard streams go; by default they are ours.
struct ChildStreams {
  bool pipeIn = false;      // a pipe that stays open until CloseInput
  bool captureOut = false;  // a pipe read by ReadLine and ReadOut
  bool dropErr = false;     // nowhere
  std::string errFile{};    // standard error into this file (made anew), when named
};

class ChildProcess {
 public:
  // Starts AArgv[0] (looked up in PATH when it has no slash) with AArgv
  // as its arguments and AEnv as its whole environment.
  ChildProcess(const std::vector<std::string>& AArgv, const Environment& AEnv, ChildStreams AStreams = {});
  // A child still running is killed and reaped.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return m_pid > 0; }
  pid_t Pid() const { return m_pid; }
  // The next line of its standard output (without the line feed); nothing
  // when none came within ATimeoutMs or the output ended.
  std::optional<std::string> ReadLine(int ATimeoutMs);
  // Everything it writes to its standard output until it closes it, at
  // most ATimeoutMs long (after the lines ReadLine took).
  std::string ReadOut(int ATimeoutMs);
  // Writes all of AText to its standard input (a pipe); false when it
  // cannot take it.
  bool WriteInput(const std::string& AText);
  // Closes its standard input (a child reading it sees the end).
  void CloseInput();
  // Waits at most ATimeoutMs for the child to end. Its exit code (128 plus
  // the signal number when a signal ended it), or nothing on time-out.
  std::optional<int> WaitExit(int ATimeoutMs);
  bool Running();
  // Sends a signal while the child runs.
  void Signal(int ASignal);

 private:
  // Adds what comes on standard output within ATimeoutMs to m_buffer;
  // false when nothing came in time or the output has ended.
  bool ReadMore(int ATimeoutMs);

  pid_t m_pid = -1;
  int m_pidfd = -1;  // readable once the child has ended
  int m_in = -1;
  int m_out = -1;
  std::string m_buffer;  // read from standard output, not handed out yet
  bool m_outEnded = false;
  std::optional<int> m_status;
};

}  // namespace testtools
