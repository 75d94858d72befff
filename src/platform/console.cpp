#include "platform/console.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#undef SetConsoleTitle  // <windows.h> names SetConsoleTitleA so
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>

#include "platform/mutex.h"

namespace platform {
namespace {

// Guards standard output, standard error and the capture below.
TMutex consoleLock;
int captureDepth GUARDED_BY(consoleLock) = 0;
std::vector<std::string> captured GUARDED_BY(consoleLock);

}  // namespace

// A line break or an escape sequence inside a line, from a client's name say,
// can neither forge another line nor drive the terminal.
std::string WithoutControlBytes(const std::string& text) {
  std::string printable;
  printable.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) printable.push_back(c);
  }
  return printable;
}

void ConsoleLines(const std::vector<std::string>& rawLines) {
  std::vector<std::string> lines;
  lines.reserve(rawLines.size());
  for (const std::string& text : rawLines) lines.push_back(WithoutControlBytes(text));
  TMutexLock guard(consoleLock);
  for (const std::string& text : lines) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    if (captureDepth > 0) captured.push_back(text);
  }
  std::fflush(stdout);
}

void ConsoleLine(const std::string& text) { ConsoleLines({text}); }

void ErrorLine(const std::string& rawText) {
  const std::string text = WithoutControlBytes(rawText);
  TMutexLock guard(consoleLock);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

void InitConsole() {
#ifdef _WIN32
  ::SetConsoleOutputCP(CP_UTF8);
  ::SetConsoleCP(CP_UTF8);
#endif
}

void SetConsoleTitle(const std::string& title) {
#ifdef _WIN32
  // The window's title, whether or not standard output goes to it.
  const std::string printable = WithoutControlBytes(title);
  std::wstring wide(printable.size() + 1, L'\0');
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, printable.data(), static_cast<int>(printable.size()),
                                           wide.data(), static_cast<int>(wide.size()));
  wide.resize(length > 0 ? static_cast<size_t>(length) : 0);
  ::SetConsoleTitleW(wide.c_str());
#else
  if (!::isatty(STDOUT_FILENO)) return;
  const std::string printable = WithoutControlBytes(title);
  TMutexLock guard(consoleLock);
  std::fprintf(stdout, "\033]0;%s\007", printable.c_str());
  std::fflush(stdout);
#endif
}

TConsoleCapture::TConsoleCapture() {
  TMutexLock guard(consoleLock);
  if (captureDepth++ == 0) captured.clear();
}

TConsoleCapture::~TConsoleCapture() {
  TMutexLock guard(consoleLock);
  --captureDepth;
}

std::vector<std::string> TConsoleCapture::Lines() const {
  TMutexLock guard(consoleLock);
  return captured;
}

bool TConsoleCapture::Contains(const std::string& line) const {
  TMutexLock guard(consoleLock);
  return std::find(captured.begin(), captured.end(), line) != captured.end();
}

bool TConsoleCapture::ContainsPrefix(const std::string& prefix) const {
  TMutexLock guard(consoleLock);
  return std::any_of(captured.begin(), captured.end(),
                     [&](const std::string& l) { return l.compare(0, prefix.size(), prefix) == 0; });
}

}  // namespace platform
