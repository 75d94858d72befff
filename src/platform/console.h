// The console: standard output, one line per write, flushed at once, so that an
// admin running the server under systemd or in a pipe sees every line as it
// happens. Lines from different threads never interleave, and control bytes
// (below 0x20, and 0x7F) are removed from every line, so that no text from a
// client can break a line or send an escape sequence to the terminal.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform {

// The text without control bytes (below 0x20, and 0x7F): the filter every
// console line and every log line goes through. Thread safe.
std::string WithoutControlBytes(const std::string& text);
// Writes one line (the text and LF) to standard output. Thread safe.
void ConsoleLine(const std::string& text);
// Writes several lines as one block: no other thread's line comes between them.
void ConsoleLines(const std::vector<std::string>& lines);
// Writes one line to standard error, for faults that have nowhere else to go.
void ErrorLine(const std::string& text);
// Sets the terminal's title with an OSC sequence, only when standard output is
// a terminal; on Windows the console window's title.
void SetConsoleTitle(const std::string& title);
// Prepares the console for the program's UTF-8 text, first thing in main: on
// Windows the console's input and output code pages become UTF-8; nothing
// elsewhere.
void InitConsole();

// While one exists, console lines are also recorded here (tests). Thread safe.
class TConsoleCapture {
 public:
  TConsoleCapture();
  ~TConsoleCapture();
  TConsoleCapture(const TConsoleCapture&) = delete;
  TConsoleCapture& operator=(const TConsoleCapture&) = delete;
  std::vector<std::string> Lines() const;
  bool Contains(const std::string& line) const;
  bool ContainsPrefix(const std::string& prefix) const;
};

}  // namespace platform

namespace platform {

// One line from standard input (without its line end), for a password: when
// standard input is a terminal (a console on Windows), prompt goes to standard
// error and the typing is not shown. nullopt at the end of the input.
std::optional<std::string> ReadSecretLine(const std::string& prompt);

}  // namespace platform
