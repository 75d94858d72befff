#include "platform/windows/wide_text.h"

#include "platform/windows/windows_api.h"

#include <climits>

namespace platform {

std::wstring WideOf(const std::string& text) {
  if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return std::wstring();
  const int bytes = static_cast<int>(text.size());
  const int chars = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), bytes, nullptr, 0);
  if (chars <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(chars), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), bytes, wide.data(), chars);
  return wide;
}

std::string Utf8Of(const std::wstring& text) {
  if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return std::string();
  const int chars = static_cast<int>(text.size());
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), chars, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string narrow(static_cast<size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), chars, narrow.data(), bytes, nullptr, nullptr);
  return narrow;
}

}  // namespace platform
