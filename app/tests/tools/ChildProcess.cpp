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
#include <utility>

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

void CloseFd(int& AFd) {
  if (AFd >= 0) close(AFd);
  AFd = -1;
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

ChildProcess::ChildProcess(const std::vector<std::string>& AArgv, const Environment& AEnv, ChildStreams AStreams) {
  if (AArgv.empty()) return;
  int in[2] = {-1, -1}, out[2] = {-1, -1};
  if (AStreams.pipeIn && pipe2(in, O_CLOEXEC) != 0) return;
  if (AStreams.captureOut && pipe2(out, O_CLOEXEC) != 0) {
    CloseFd(in[0]);
    CloseFd(in[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (AStreams.pipeIn) posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  if (AStreams.captureOut) posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  if (AStreams.dropErr) posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  if (!AStreams.errFile.empty())
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, AStreams.errFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> argv = CStrings(AArgv), envp = CStrings(AEnv);
  pid_t pid = -1;
  const int err = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  // The child's ends of the pipes are the child's alone: the output ends
  // only when the child closes its end.
  CloseFd(in[0]);
  CloseFd(out[1]);
  if (err != 0) {
    CloseFd(in[1]);
    CloseFd(out[0]);
    return;
  }
  m_pid = pid;
  m_in = in[1];
  m_out = out[0];
  // A descriptor that becomes readable when the child ends: waiting for
  // the end is then a poll, not a loop of tries.
  m_pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

ChildProcess::~ChildProcess() {
  if (m_pid > 0 && !m_status) {
    kill(m_pid, SIGKILL);
    WaitExit(10000);
  }
  CloseInput();
  CloseFd(m_out);
  CloseFd(m_pidfd);
}

bool ChildProcess::ReadMore(int ATimeoutMs) {
  if (m_out < 0 || m_outEnded) return false;
  pollfd p{m_out, POLLIN, 0};
  const int ready = poll(&p, 1, ATimeoutMs);
  if (ready < 0 && errno == EINTR) return true;  // the caller tries again for the time left
  if (ready <= 0) return false;
  char chunk[4096];
  const ssize_t n = read(m_out, chunk, sizeof chunk);
  if (n < 0 && errno == EINTR) return true;
  if (n <= 0) {
    m_outEnded = true;
    return false;
  }
  m_buffer.append(chunk, static_cast<size_t>(n));
  return true;
}

std::optional<std::string> ChildProcess::ReadLine(int ATimeoutMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(ATimeoutMs);
  for (;;) {
    if (const auto nl = m_buffer.find('\n'); nl != std::string::npos) {
      std::string line = m_buffer.substr(0, nl);
      m_buffer.erase(0, nl + 1);
      return line;
    }
    if (!ReadMore(MsLeft(end))) return std::nullopt;
  }
}

std::string ChildProcess::ReadOut(int ATimeoutMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(ATimeoutMs);
  while (ReadMore(MsLeft(end))) {
  }
  return std::exchange(m_buffer, std::string());
}

bool ChildProcess::WriteInput(const std::string& AText) {
  // A child that has ended makes the write fail with EPIPE, not end us by
  // its signal: the signal is held back while we write and taken if it came.
  sigset_t pipeSignal, old;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, &old);
  size_t done = 0;
  while (m_in >= 0 && done < AText.size()) {
    const ssize_t n = write(m_in, AText.data() + done, AText.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const timespec now{0, 0};
  while (sigtimedwait(&pipeSignal, nullptr, &now) == SIGPIPE) {
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return done == AText.size();
}

void ChildProcess::CloseInput() { CloseFd(m_in); }

std::optional<int> ChildProcess::WaitExit(int ATimeoutMs) {
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

bool ChildProcess::Running() { return m_pid > 0 && !WaitExit(0); }

void ChildProcess::Signal(int ASignal) {
  if (m_pid > 0 && !m_status) kill(m_pid, ASignal);
}

}  // namespace testtools
