// Runs a program as a child process with its standard output (and error) read
// through a pipe, for tests that drive the real binary.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace testenv {

class TChildProcess {
 public:
  // Starts program with the arguments and the extra environment entries
  // ("NAME=value") in directory cwd. Throws when it cannot be started.
  TChildProcess(const std::string& program, const std::vector<std::string>& env, const std::string& cwd,
                const std::vector<std::string>& args = {});
  // Kills the child if it still runs, and reaps it.
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  // Waits until the output holds text (at least times times); false after timeoutMs.
  bool WaitForOutput(const std::string& text, int timeoutMs, int times = 1);
  // Everything the child printed so far.
  std::string Output();
  void Signal(int signal);
  pid_t Pid() const { return pid_; }
  // Waits for the exit; the exit status, or -1 after timeoutMs (the child is
  // then still running), or 128 + signal when a signal ended it.
  int WaitForExit(int timeoutMs);

 private:
  // Reads what the pipe holds, waiting at most timeoutMs for the first byte.
  void Pump(int timeoutMs);

  pid_t pid_ = -1;
  int out_ = -1;
  std::string output_;
  bool exited_ = false;
  int status_ = -1;
};

}  // namespace testenv
