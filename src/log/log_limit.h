// The limit on error lines that the requests of one address cause (an unknown
// name, a refused ban, a refused connect): at most a fixed number in each
// window of time per address, the rest counted, so that nobody can fill the
// disk or the console by repeating a bad request. What was left out is handed
// back once the window has ended, to be reported in one line.
#pragma once

#include <chrono>
#include <string>
#include <unordered_map>
#include <vector>

class TLogLimit {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  TLogLimit(int linesPerWindow, std::chrono::steady_clock::duration window)
      : linesPerWindow_(linesPerWindow), window_(window) {}

  // True when one more line caused by address may be written at now; false
  // when its window is full (the line is counted as left out). A window
  // starts with the first line of an address and lasts the window length.
  // Not thread safe: the owner serialises the calls.
  bool Admit(const std::string& address, TimePoint now);

  struct TLeftOut {
    std::string Address;
    long long Lines = 0;
  };
  // Forgets every window that has ended by now and returns those that left
  // lines out, each once, in no particular order. Not thread safe.
  std::vector<TLeftOut> TakeEnded(TimePoint now);

 private:
  struct TWindow {
    TimePoint Start;
    int Written = 0;
    long long LeftOut = 0;
  };
  // Ends the window of it: kept for TakeEnded when it left lines out.
  void Close(std::unordered_map<std::string, TWindow>::iterator it);

  int linesPerWindow_;
  std::chrono::steady_clock::duration window_;
  std::unordered_map<std::string, TWindow> windows_;
  std::vector<TLeftOut> ended_;
};
