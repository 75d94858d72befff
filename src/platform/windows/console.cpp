// Reading a password from the console without showing it.
#include "platform/console.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>

namespace platform {
namespace {

std::string Utf8Of(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                         nullptr, nullptr);
  std::string text(size > 0 ? static_cast<size_t>(size) : 0, '\0');
  if (size > 0) {
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size, nullptr,
                          nullptr);
  }
  return text;
}

// One line typed at the console, read as UTF-16 (the console's own text: a
// byte read through the code page loses what the page cannot hold). nullopt
// at the end of the input (Ctrl-Z first on the line) or when reading fails.
std::optional<std::string> TypedLine(HANDLE input) {
  std::wstring line;
  wchar_t chunk[256];
  for (;;) {
    DWORD got = 0;
    if (!::ReadConsoleW(input, chunk, static_cast<DWORD>(std::size(chunk)), &got, nullptr) || got == 0) {
      if (line.empty()) return std::nullopt;
      break;
    }
    line.append(chunk, got);
    if (line.find(L'\n') != std::wstring::npos) break;
  }
  if (!line.empty() && line.front() == L'\x1A') return std::nullopt;
  line.erase(std::min(line.find(L'\n'), line.size()));
  if (!line.empty() && line.back() == L'\r') line.pop_back();
  return Utf8Of(line);
}

}  // namespace

std::optional<std::string> ReadSecretLine(const std::string& prompt) {
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  DWORD saved = 0;
  if (input == INVALID_HANDLE_VALUE || input == nullptr || !::GetConsoleMode(input, &saved)) {
    // A pipe or a file: the line as it comes, without a prompt.
    std::string line;
    if (!std::getline(std::cin, line)) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }
  std::fputs(prompt.c_str(), stderr);
  std::fflush(stderr);
  ::SetConsoleMode(input, (saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT);
  std::optional<std::string> line = TypedLine(input);
  ::SetConsoleMode(input, saved);
  std::fputs("\n", stderr);
  return line;
}

}  // namespace platform
