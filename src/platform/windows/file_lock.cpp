// The LockFileEx calls behind TFileLock.
//
// A Windows lock is mandatory for the bytes it covers: no other handle may
// read them. So the lock covers one byte far past anything the file holds
// (locking past the end is allowed), and the holder's id in the file stays
// readable to the process that finds the lock taken.
#include "platform/file_lock_calls.h"

#include "platform/windows/error_text.h"
#include "platform/windows/wide_text.h"
#include "platform/windows/windows_api.h"

namespace platform {
namespace {

constexpr uint64_t kLockedByte = uint64_t{1} << 62;

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

}  // namespace

const char* const kLockCallName = "LockFileEx";

std::optional<TLockFileOwner> OpenLockFile(const std::string& path, std::string* error) {
  THandle file(::CreateFileW(WideOf(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.Valid()) return file;
  if (error) *error = "CreateFileW " + path + ": " + LastErrorText();
  return std::nullopt;
}

TLockTry LockExclusive(const TLockFileOwner& file, bool wait, const std::string& path, std::string* error) {
  OVERLAPPED at = At(kLockedByte);
  const DWORD flags = wait ? LOCKFILE_EXCLUSIVE_LOCK : LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY;
  if (::LockFileEx(file.Get(), flags, 0, 1, 0, &at)) return TLockTry::Taken;
  const DWORD code = ::GetLastError();
  if (!wait && code == ERROR_LOCK_VIOLATION) return TLockTry::Busy;
  if (error) *error = "LockFileEx " + path + ": " + ErrorText(code);
  return TLockTry::Failed;
}

std::string ReadLockMark(const TLockFileOwner& file) {
  char text[32] = {};
  DWORD got = 0;
  OVERLAPPED at = At(0);
  if (!::ReadFile(file.Get(), text, sizeof text - 1, &got, &at) || got == 0) return "?";
  return std::string(text, got);
}

bool WriteLockMark(const TLockFileOwner& file, const std::string& mark, const std::string& path, std::string* error) {
  LARGE_INTEGER start{};
  DWORD written = 0;
  OVERLAPPED at = At(0);
  if (::SetFilePointerEx(file.Get(), start, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.Get()) &&
      ::WriteFile(file.Get(), mark.data(), static_cast<DWORD>(mark.size()), &written, &at) &&
      written == mark.size()) {
    return true;
  }
  if (error) *error = "WriteFile " + path + ": " + LastErrorText();
  return false;
}

// Windows releases the lock of a closed handle only when it gets to it:
// unlocking first lets the next holder in at once.
void ReleaseLock(const TLockFileOwner& file) {
  OVERLAPPED at = At(kLockedByte);
  ::UnlockFileEx(file.Get(), 0, 1, 0, &at);
}

std::string ProcessIdText() { return std::to_string(::GetCurrentProcessId()); }

}  // namespace platform
