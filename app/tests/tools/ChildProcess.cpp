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

extern char** environ;

namespace testtools {

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point AEnd) {
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(AEnd - Clock::now()).count();
  return ms > 0 ? static_cast<int>(ms) : 0;
}

std::vector<char*> CStrings(const std::vector<std::string>& AItems) {
  std::vector<char*> out;
  for (const std::string& s : AItems) out.push_back(const_cast<char*>(s.c_str()));
  out.push_back(nullptr);
  return out;
}

bool IsVariable(const std::string& AEntry, const std::string& AName) {
  return AEntry.size() > AName.size() && AEntry.compare(0, AName.size(), AName) == 0 &&
         AEntry[AName.size()] == '=';
}

}  // namespace

Environment CurrentEnvironment() {
  Environment env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  return env;
}

Environment WithVariable(Environment AEnv, const std::string& AName, const std::string& AValue) {
  AEnv = WithoutVariable(std::move(AEnv), AName);
  AEnv.push_back(AName + "=" + AValue);
  return AEnv;
}

Environment WithoutVariable(Environment AEnv, const std::string& AName) {
  std::erase_if(AEnv, [&](const std::string& e) { return IsVariable(e, AName); });
  return AEnv;
}

ChildProcess::ChildProcess(const std::vector<std::string>& AArgv, const Environment& AEnv, bool ACaptureOut,
                           bool ADropErr) {
  if (AArgv.empty()) return;
  int out[2] = {-1, -1};
  if (ACaptureOut && pipe2(out, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (ACaptureOut) posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  if (ADropErr) posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv = CStrings(AArgv), envp = CStrings(AEnv);
  pid_t pid = -1;
  const int err = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (ACaptureOut) close(out[1]);
  if (err != 0) {
    if (ACaptureOut) close(out[0]);
    return;
  }
  m_pid = pid;
  m_out = out[0];
  m_pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

ChildProcess::~ChildProcess() {
  if (m_pid > 0 && !m_status) {
    kill(m_pid, SIGKILL);
    Wait(10000);
  }
  if (m_pidfd >= 0) close(m_pidfd);
  if (m_out >= 0) close(m_out);
}

std::optional<int> ChildProcess::Wait(int ATimeoutMs) {
  if (m_status || m_pid <= 0) return m_status;
  const auto end = Clock::now() + std::chrono::milliseconds(ATimeoutMs);
  for (;;) {
    int status = 0;
    const pid_t got = waitpid(m_pid, &status, WNOHANG);
    if (got == m_pid) {
      m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return m_status;
    }
    if (got < 0 && errno != EINTR) return std::nullopt;
    const int left = MsLeft(end);
    if (left == 0) return std::nullopt;
    if (m_pidfd >= 0) {
      pollfd p{m_pidfd, POLLIN, 0};
      poll(&p, 1, left);
    } else {
      // Without process descriptors (old kernels) look again shortly.
      usleep(static_cast<useconds_t>(std::min(left, 10)) * 1000);
    }
  }
}

void ChildProcess::Signal(int ASignal) {
  if (m_pid > 0 && !m_status) kill(m_pid, ASignal);
}

std::string ChildProcess::ReadOut(int ATimeoutMs) { return Read(ATimeoutMs, false); }

std::string ChildProcess::ReadOutLine(int ATimeoutMs) { return Read(ATimeoutMs, true); }

std::string ChildProcess::Read(int ATimeoutMs, bool AOneLine) {
  std::string text;
  if (m_out < 0) return text;
  const auto end = Clock::now() + std::chrono::milliseconds(ATimeoutMs);
  for (;;) {
    pollfd p{m_out, POLLIN, 0};
    const int ready = poll(&p, 1, MsLeft(end));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    // A line is read byte by byte, so that nothing after it is taken.
    char buf[4096];
    const ssize_t n = read(m_out, buf, AOneLine ? 1 : sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (AOneLine && buf[0] == '\n') return text;
    text.append(buf, static_cast<size_t>(n));
  }
  return AOneLine ? std::string() : text;
}

}  // namespace testtools
