// The process environment on Windows, read as UTF-16 and given as UTF-8.
#include "platform/environment.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <iterator>
#include <string>
#include <vector>

namespace platform {
namespace {

std::string Utf8Of(const wchar_t* wide, size_t length) {
  if (length == 0) return std::string();
  const int size =
      ::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string text(size > 0 ? static_cast<size_t>(size) : 0, '\0');
  if (size > 0) ::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), text.data(), size, nullptr, nullptr);
  return text;
}

std::wstring WideOf(const char* text) {
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  std::wstring wide(size > 0 ? static_cast<size_t>(size) : 1, L'\0');
  if (size > 0) ::MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), size);
  wide.pop_back();  // the terminating NUL
  return wide;
}

}  // namespace

std::optional<std::string> EnvironmentValue(const char* name) {
  const std::wstring wideName = WideOf(name);
  std::vector<wchar_t> value(256);
  for (;;) {
    const DWORD length = ::GetEnvironmentVariableW(wideName.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) return std::nullopt;  // unset, or set to nothing
    if (length < value.size()) return Utf8Of(value.data(), length);
    value.resize(length);  // the size it needs, its NUL included
  }
}

std::string HostName() {
  wchar_t name[256] = {};
  DWORD length = static_cast<DWORD>(std::size(name));
  if (!::GetComputerNameExW(ComputerNameDnsHostname, name, &length) || length == 0) return "localhost";
  return Utf8Of(name, length);
}

// Windows keeps no login user beside the process's own: the name is the
// account the program runs as.
std::string RealUserName() {
  wchar_t name[257] = {};  // UNLEN + 1
  DWORD length = static_cast<DWORD>(std::size(name));
  if (!::GetUserNameW(name, &length) || length <= 1) return "unknown user";
  return Utf8Of(name, length - 1);  // the count holds the NUL
}

}  // namespace platform
