// Where the program file lies, from GetModuleFileNameW.
#include "platform/program_dir.h"

#include "platform/windows/wide_text.h"
#include "platform/windows/windows_api.h"

namespace platform {

std::string ProgramFileDirectory() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return ".\\";
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);  // cut short: try a larger buffer
  }
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? ".\\" : Utf8Of(path.substr(0, slash + 1));
}

}  // namespace platform
