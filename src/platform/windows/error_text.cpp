#include "platform/windows/error_text.h"

#include "platform/windows/windows_api.h"

#include "platform/windows/wide_text.h"

namespace platform {

std::string ErrorText(unsigned long code) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
      reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring message;
  if (length > 0 && buffer != nullptr) message.assign(buffer, length);
  if (buffer != nullptr) ::LocalFree(buffer);
  while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' ')) {
    message.pop_back();
  }
  const std::string number = "error " + std::to_string(code);
  return message.empty() ? number : Utf8Of(message) + " (" + number + ")";
}

std::string LastErrorText() { return ErrorText(::GetLastError()); }

}  // namespace platform
