// A program the tests start and watch: its own environment, its stdout read
// line by line, its end awaited with a time limit. Whatever is still running
// when the object goes is killed and reaped.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testproc {

class ChildProcess {
 public:
  // Starts APath with AArgs (without argv[0]) in the test's environment
  // changed by AEnv (an empty value removes the variable). Its stdin is a
  // pipe that stays open until CloseInput; with ACaptureOut its stdout is
  // read by ReadLine, else it goes where the test's own goes.
  ChildProcess(const std::string& APath, const std::vector<std::string>& AArgs,
               const std::map<std::string, std::string>& AEnv = {}, bool ACaptureOut = false);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return m_pid > 0; }
  pid_t Pid() const { return m_pid; }
  // The next line of its stdout (without the line feed); nothing when none
  // came within ATimeoutMs or the output ended.
  std::optional<std::string> ReadLine(int ATimeoutMs);
  void CloseInput();
  // Its exit code once it ends within ATimeoutMs (128 + the signal when a
  // signal ended it); nothing while it still runs.
  std::optional<int> WaitExit(int ATimeoutMs);
  bool Running();

 private:
  pid_t m_pid = -1;
  int m_pidFd = -1;
  int m_in = -1;
  int m_out = -1;
  std::string m_buffer;
  bool m_outEnded = false;
  std::optional<int> m_status;
};

}  // namespace testproc
