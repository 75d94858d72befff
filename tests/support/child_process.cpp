#include "support/child_process.h"

#include "support/test_env.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace testenv {

TChildProcess::TChildProcess(const std::string& program, const std::vector<std::string>& env,
                             const std::string& cwd, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    ::dup2(pipeFds[1], STDOUT_FILENO);
    ::dup2(pipeFds[1], STDERR_FILENO);
    if (::chdir(cwd.c_str()) != 0) _exit(126);
    for (const std::string& entry : env) ::putenv(const_cast<char*>(entry.c_str()));
    ::execv(program.c_str(), argv.data());
    _exit(127);
  }
  ::close(pipeFds[1]);
  out_ = pipeFds[0];
}

TChildProcess::~TChildProcess() {
  if (!exited_ && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) ::close(out_);
}

void TChildProcess::Pump(int timeoutMs) {
  pollfd pfd{out_, POLLIN, 0};
  if (::poll(&pfd, 1, timeoutMs) <= 0) return;
  char buffer[4096];
  ssize_t n = ::read(out_, buffer, sizeof buffer);
  if (n > 0) {
    // A Windows program under wine ends its lines in CR LF: the tests read LF.
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] == '\n' && !output_.empty() && output_.back() == '\r') output_.pop_back();
      output_.push_back(buffer[i]);
    }
  }
  if (n == 0) {
    // The child closed its output; do not poll a closed pipe in a loop.
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeoutMs, 20)));
  }
}

bool TChildProcess::WaitForOutput(const std::string& text, int timeoutMs, int times) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (CountOf(output_, text) < times) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    Pump(static_cast<int>(left.count()));
  }
  return true;
}

std::string TChildProcess::Output() {
  Pump(0);
  return output_;
}

void TChildProcess::Signal(int signal) {
  if (!exited_) ::kill(pid_, signal);
}

int TChildProcess::WaitForExit(int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!exited_) {
    int status = 0;
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      exited_ = true;
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    Pump(50);  // drains output while waiting, so the child never blocks on a full pipe
  }
  Pump(0);
  return status_;
}

}  // namespace testenv
