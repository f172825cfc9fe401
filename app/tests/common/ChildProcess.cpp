#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

extern char** environ;

namespace testproc {

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point ADeadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(ADeadline - Clock::now()).count();
  return int(std::max<long long>(0, left));
}

}  // namespace

ChildProcess::ChildProcess(const std::string& APath, const std::vector<std::string>& AArgs,
                           const std::map<std::string, std::string>& AEnv, bool ACaptureOut) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry(*e);
    const std::string name = entry.substr(0, entry.find('='));
    if (!AEnv.count(name)) env.push_back(entry);
  }
  for (const auto& [name, value] : AEnv)
    if (!value.empty()) env.push_back(name + "=" + value);
  std::vector<char*> envp, argv;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string path = APath;
  std::vector<std::string> args = AArgs;
  argv.push_back(path.data());
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int in[2] = {-1, -1}, out[2] = {-1, -1};
  if (pipe2(in, O_CLOEXEC) != 0) return;
  if (ACaptureOut && pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  if (ACaptureOut) posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  if (ACaptureOut) close(out[1]);
  if (rc != 0) {
    close(in[1]);
    if (ACaptureOut) close(out[0]);
    return;
  }
  m_pid = pid;
  m_in = in[1];
  m_out = ACaptureOut ? out[0] : -1;
  // A descriptor that becomes readable when the process ends: waiting for
  // the end is then a poll, not a loop of tries.
  m_pidFd = int(syscall(SYS_pidfd_open, pid, 0));
}

ChildProcess::~ChildProcess() {
  if (m_pid > 0 && !m_status) {
    kill(m_pid, SIGKILL);
    WaitExit(5000);
  }
  CloseInput();
  if (m_out >= 0) close(m_out);
  if (m_pidFd >= 0) close(m_pidFd);
}

std::optional<std::string> ChildProcess::ReadLine(int ATimeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ATimeoutMs);
  for (;;) {
    if (const auto nl = m_buffer.find('\n'); nl != std::string::npos) {
      std::string line = m_buffer.substr(0, nl);
      m_buffer.erase(0, nl + 1);
      return line;
    }
    if (m_out < 0 || m_outEnded) return std::nullopt;
    pollfd p{m_out, POLLIN, 0};
    const int ready = poll(&p, 1, MsLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    char chunk[512];
    const ssize_t n = read(m_out, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      m_outEnded = true;
      continue;
    }
    m_buffer.append(chunk, size_t(n));
  }
}

void ChildProcess::CloseInput() {
  if (m_in >= 0) close(m_in);
  m_in = -1;
}

std::optional<int> ChildProcess::WaitExit(int ATimeoutMs) {
  if (m_status || m_pid <= 0) return m_status;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ATimeoutMs);
  for (;;) {
    int status = 0;
    const pid_t got = waitpid(m_pid, &status, WNOHANG);
    if (got == m_pid) {
      m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return m_status;
    }
    if (got < 0 && errno != EINTR) return std::nullopt;
    const int left = MsLeft(deadline);
    if (left == 0) return std::nullopt;
    if (m_pidFd >= 0) {
      pollfd p{m_pidFd, POLLIN, 0};
      poll(&p, 1, left);
    } else {
      // Kernels without pidfd: short steps up to the deadline.
      usleep(useconds_t(std::min(left, 10)) * 1000);
    }
  }
}

bool ChildProcess::Running() { return m_pid > 0 && !WaitExit(0); }

}  // namespace testproc
