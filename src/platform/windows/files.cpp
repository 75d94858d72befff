// File-system calls on Windows, with the errors that name the failing call.
// Every path is UTF-8 inside the program and UTF-16 at the W functions; "/"
// and "\" both separate names. Every file is opened shared for reading,
// writing and deleting, so that the server, the ban tool and the admin's
// editor can each open a file the other holds, and a rename can replace it.
#include "platform/files.h"

#include "platform/windows/windows_api.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "platform/windows/error_text.h"
#include "platform/windows/handle.h"
#include "platform/windows/wide_text.h"

namespace platform {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// FILETIME counts 100 ns steps from 1601-01-01; this many lie before 1970.
constexpr int64_t kUnixEpochInFileTime = 116444736000000000;
constexpr DWORD kMaxChunk = 1u << 30;  // the most one ReadFile or WriteFile is given
// The rename with POSIX semantics (winbase.h has these only for some targets).
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
static_assert(FileIdExtdDirectoryRestartInfo == 20, "FileRenameInfoEx follows FileDispositionInfoEx (21)");
constexpr DWORD kRenameReplaceIfExists = 0x1;
constexpr DWORD kRenamePosixSemantics = 0x2;
// Where the system has no POSIX rename: how often, and how far apart,
// MoveFileExW is tried while a reader holds the target open.
constexpr int kRenameTries = 10;
constexpr DWORD kRenameRetryMs = 20;

bool Fail(std::string* error, const char* what, const std::string& path, DWORD code) {
  if (error) *error = what + (" " + path) + ": " + ErrorText(code);
  return false;
}

// Fail with the calling thread's last error, read before anything else runs.
bool FailLast(std::string* error, const char* what, const std::string& path) {
  return Fail(error, what, path, ::GetLastError());
}

// The UTF-16 path with "\" between names: a few Win32 calls take only that.
std::wstring WidePath(const std::string& path) {
  std::wstring wide = WideOf(path);
  std::replace(wide.begin(), wide.end(), L'/', L'\\');
  return wide;
}

THandle Open(const std::string& path, DWORD access, DWORD disposition, DWORD flags = FILE_ATTRIBUTE_NORMAL) {
  return THandle(::CreateFileW(WidePath(path).c_str(), access, kShareAll, nullptr, disposition, flags, nullptr));
}

// Writes all bytes at the handle's position (at the end for an append handle),
// or at offset when one is given; false on an error (GetLastError set).
bool WriteAllTo(HANDLE file, std::string_view bytes, std::optional<uint64_t> offset = std::nullopt) {
  size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, kMaxChunk));
    DWORD written = 0;
    OVERLAPPED at{};
    if (offset) {
      const uint64_t where = *offset + done;
      at.Offset = static_cast<DWORD>(where);
      at.OffsetHigh = static_cast<DWORD>(where >> 32);
    }
    if (!::WriteFile(file, bytes.data() + done, chunk, &written, offset ? &at : nullptr)) return false;
    if (written == 0) {
      ::SetLastError(ERROR_DISK_FULL);
      return false;
    }
    done += written;
  }
  return true;
}

bool WriteWithDisposition(const std::string& path, const std::string& bytes, DWORD access, DWORD disposition,
                          std::string* error) {
  THandle file = Open(path, access, disposition);
  if (!file.Valid()) return FailLast(error, "CreateFileW", path);
  if (!WriteAllTo(file.Get(), bytes)) return FailLast(error, "WriteFile", path);
  return true;
}

// Reads up to size bytes at offset; the count read (0 at the end), or -1.
long long ReadAt(HANDLE file, char* into, size_t size, uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  if (!::ReadFile(file, into, static_cast<DWORD>(std::min<size_t>(size, kMaxChunk)), &got, &at)) {
    return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  }
  return got;
}

std::optional<uint64_t> SizeOf(HANDLE file) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file, &size)) return std::nullopt;
  return static_cast<uint64_t>(size.QuadPart);
}

// Cuts the file back to length bytes.
bool CutTo(HANDLE file, uint64_t length) {
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(length);
  return ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
}

std::optional<WIN32_FILE_ATTRIBUTE_DATA> AttributesOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  return data;
}

// Renames the open file to path, replacing the file there, with POSIX
// semantics: the old file goes even while another process has it open (it
// keeps reading the old content), as rename does on POSIX. Windows 10 1709
// and later on NTFS; elsewhere the call fails with ERROR_INVALID_PARAMETER
// or ERROR_NOT_SUPPORTED. The file must be open with DELETE access.
bool RenameOver(HANDLE file, const std::string& path) {
  // The whole path: a bare name would be taken as one in the current directory.
  const std::wstring wide = WidePath(path);
  const DWORD length = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (length == 0) return false;
  std::wstring full(length, L'\0');
  full.resize(::GetFullPathNameW(wide.c_str(), length, full.data(), nullptr));
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + full.size() * sizeof(wchar_t));
  auto* info = new (buffer.data()) FILE_RENAME_INFO{};
  info->Flags = kRenameReplaceIfExists | kRenamePosixSemantics;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(full.size() * sizeof(wchar_t));
  std::memcpy(info->FileName, full.data(), info->FileNameLength);
  return ::SetFileInformationByHandle(file, kFileRenameInfoEx, info, static_cast<DWORD>(buffer.size()));
}

int64_t FileTimeCount(const FILETIME& time) {
  return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

}  // namespace

bool FileExists(const std::string& path) {
  const auto data = AttributesOf(path);
  return data && (data->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& path) {
  const auto data = AttributesOf(path);
  return data && (data->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool MakeDirectory(const std::string& path, std::string* error) {
  if (::CreateDirectoryW(WidePath(path).c_str(), nullptr)) return true;
  const DWORD code = ::GetLastError();
  if (code == ERROR_ALREADY_EXISTS && DirectoryExists(path)) return true;
  return Fail(error, "CreateDirectoryW", path, code);
}

bool RenameFile(const std::string& from, const std::string& to, std::string* error) {
  if (::MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  const DWORD code = ::GetLastError();
  return Fail(error, "MoveFileExW", from + " -> " + to, code);
}

bool CreateEmptyFile(const std::string& path, std::string* error) {
  return WriteWithDisposition(path, std::string(), GENERIC_WRITE, CREATE_ALWAYS, error);
}

// FILE_APPEND_DATA without FILE_WRITE_DATA: every write lands at the end of
// the file as it is at that moment, the O_APPEND of Windows.
bool AppendToFile(const std::string& path, const std::string& bytes, std::string* error) {
  return WriteWithDisposition(path, bytes, FILE_APPEND_DATA | SYNCHRONIZE, OPEN_ALWAYS, error);
}

bool AppendToExistingFile(const std::string& path, const std::string& bytes, std::string* error) {
  return WriteWithDisposition(path, bytes, FILE_APPEND_DATA | SYNCHRONIZE, OPEN_EXISTING, error);
}

bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* error) {
  return WriteWithDisposition(path, bytes, GENERIC_WRITE, CREATE_ALWAYS, error);
}

bool ReplaceFileAtomically(const std::string& path, std::string_view bytes, std::string* error) {
  static std::atomic<unsigned> counter{0};
  const std::string temp =
      path + ".tmp." + std::to_string(::GetCurrentProcessId()) + "." + std::to_string(counter++);
  THandle file = Open(temp, GENERIC_WRITE | DELETE, CREATE_ALWAYS);
  if (!file.Valid()) return FailLast(error, "CreateFileW", temp);
  if (!WriteAllTo(file.Get(), bytes) || !::FlushFileBuffers(file.Get())) {
    const DWORD code = ::GetLastError();
    file.Close();
    ::DeleteFileW(WidePath(temp).c_str());
    return Fail(error, "WriteFile", temp, code);
  }
  if (RenameOver(file.Get(), path)) {
    ::FlushFileBuffers(file.Get());  // the file's metadata, its new name among them
    return true;
  }
  DWORD code = ::GetLastError();
  const char* call = "SetFileInformationByHandle";
  file.Close();
  if (code == ERROR_INVALID_PARAMETER || code == ERROR_NOT_SUPPORTED || code == ERROR_INVALID_FUNCTION) {
    call = "MoveFileExW";
    // No POSIX rename here: MoveFileExW, which fails while another handle
    // has the target open, so a reader's short hold is waited out.
    for (int attempt = 0;; ++attempt) {
      if (::MoveFileExW(WidePath(temp).c_str(), WidePath(path).c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
      }
      code = ::GetLastError();
      if ((code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION) || attempt + 1 >= kRenameTries) break;
      ::Sleep(kRenameRetryMs);
    }
  }
  ::DeleteFileW(WidePath(temp).c_str());
  return Fail(error, call, temp + " -> " + path, code);
}

bool RemoveFile(const std::string& path, std::string* error) {
  if (::DeleteFileW(WidePath(path).c_str())) return true;
  return FailLast(error, "DeleteFileW", path);
}

std::optional<long long> FileSize(const std::string& path) {
  const auto data = AttributesOf(path);
  if (!data || (data->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return std::nullopt;
  return static_cast<long long>((static_cast<uint64_t>(data->nFileSizeHigh) << 32) | data->nFileSizeLow);
}

std::optional<TFileIdentity> FileIdentity(const std::string& path) {
  // No access asked for: this opens a file that is locked or open elsewhere
  // too, and a directory (backup semantics).
  THandle file = Open(path, 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  if (!file.Valid()) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file.Get(), &info)) return std::nullopt;
  return TFileIdentity{info.dwVolumeSerialNumber,
                       (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

bool WritableIfPresent(const std::string& path, std::string* error) {
  const DWORD attributes = ::GetFileAttributesW(WidePath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return true;
    if (error) *error = path + " cannot be written (" + ErrorText(code) + ")";
    return false;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return true;
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    if (error) *error = path + " cannot be written (it has the read-only attribute)";
    return false;
  }
  // Opening for writing changes nothing and answers for the file's access
  // rules. A file another program holds unshared may be written later.
  if (Open(path, GENERIC_WRITE, OPEN_EXISTING).Valid()) return true;
  const DWORD code = ::GetLastError();
  if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION) return true;
  if (error) *error = path + " cannot be written (" + ErrorText(code) + ")";
  return false;
}

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string* error) {
  bytes.clear();
  THandle file = Open(path, GENERIC_READ, OPEN_EXISTING);
  if (!file.Valid()) return FailLast(error, "CreateFileW", path);
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr)) return FailLast(error, "ReadFile", path);
    if (got == 0) break;
    bytes.append(buffer, got);
  }
  return true;
}

bool ReadFileTail(const std::string& path, size_t maxBytes, std::string& bytes, std::string* error) {
  bytes.clear();
  THandle file = Open(path, GENERIC_READ, OPEN_EXISTING);
  if (!file.Valid()) return FailLast(error, "CreateFileW", path);
  const std::optional<uint64_t> size = SizeOf(file.Get());
  if (!size) return FailLast(error, "GetFileSizeEx", path);
  const uint64_t from = *size > maxBytes ? *size - maxBytes : 0;
  bytes.resize(static_cast<size_t>(*size - from));
  size_t got = 0;
  while (got < bytes.size()) {
    const long long n = ReadAt(file.Get(), bytes.data() + got, bytes.size() - got, from + got);
    if (n <= 0) break;  // the file shrank meanwhile: keep what was read
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  return true;
}

bool AppendLineWhole(const std::string& path, const std::string& line, const std::string& lineEnd, bool* terminated,
                     std::string* error) {
  if (terminated) *terminated = false;
  THandle file = Open(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
  if (!file.Valid()) return FailLast(error, "CreateFileW", path);
  const std::optional<uint64_t> end = SizeOf(file.Get());
  if (!end) return FailLast(error, "GetFileSizeEx", path);
  std::string bytes = line;
  if (*end > 0) {
    char last = '\n';
    if (ReadAt(file.Get(), &last, 1, *end - 1) != 1) return FailLast(error, "ReadFile", path);
    if (last != '\n') {
      bytes = lineEnd + line;
      if (terminated) *terminated = true;
    }
  }
  if (!WriteAllTo(file.Get(), bytes, *end)) {
    // Nothing of a record that is not whole may stay: cut back to the old end.
    const DWORD code = ::GetLastError();
    CutTo(file.Get(), *end);
    if (terminated) *terminated = false;
    return Fail(error, "WriteFile", path, code);
  }
  if (!::FlushFileBuffers(file.Get())) {
    const DWORD code = ::GetLastError();
    CutTo(file.Get(), *end);
    return Fail(error, "FlushFileBuffers", path, code);
  }
  return true;
}

int64_t FileTimeStepNanoseconds() { return 100; }

bool SetModifiedTime(const std::string& path, int64_t unixSeconds, int64_t nanoseconds, std::string* error) {
  THandle file = Open(path, FILE_WRITE_ATTRIBUTES, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  if (!file.Valid()) return FailLast(error, "CreateFileW", path);
  const auto count = static_cast<uint64_t>(unixSeconds * 10000000 + nanoseconds / 100 + kUnixEpochInFileTime);
  FILETIME time{};
  time.dwLowDateTime = static_cast<DWORD>(count);
  time.dwHighDateTime = static_cast<DWORD>(count >> 32);
  if (!::SetFileTime(file.Get(), nullptr, &time, &time)) return FailLast(error, "SetFileTime", path);
  return true;
}

bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>& entries, std::string* error) {
  entries.clear();
  std::string pattern = path;
  if (!pattern.empty() && pattern.back() != '/' && pattern.back() != '\\') pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAW found{};
  HANDLE search = ::FindFirstFileW(WidePath(pattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    // A drive's empty root has not even "." and "..".
    if (::GetLastError() == ERROR_FILE_NOT_FOUND) return true;
    return FailLast(error, "FindFirstFileW", path);
  }
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    // Links (symbolic links, junctions) are left out, as on POSIX; so are devices.
    if ((found.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0) continue;
    const int64_t written = FileTimeCount(found.ftLastWriteTime) - kUnixEpochInFileTime;
    entries.push_back({Utf8Of(name), (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                       static_cast<int64_t>((static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow),
                       written / 10000000, written % 10000000 * 100});
  } while (::FindNextFileW(search, &found));
  const DWORD code = ::GetLastError();
  ::FindClose(search);
  if (code != ERROR_NO_MORE_FILES) return Fail(error, "FindNextFileW", path, code);
  return true;
}

std::optional<std::string> RealPath(const std::string& path) {
  THandle file = Open(path, 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  if (!file.Valid()) return std::nullopt;
  std::wstring real(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetFinalPathNameByHandleW(file.Get(), real.data(), static_cast<DWORD>(real.size()),
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return std::nullopt;
    if (length < real.size()) {
      real.resize(length);
      break;
    }
    real.resize(length);  // length counts the terminating zero here
  }
  // The call answers "\\?\C:\dir" or "\\?\UNC\server\share\dir".
  if (real.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    real = L"\\\\" + real.substr(8);
  } else if (real.rfind(L"\\\\?\\", 0) == 0) {
    real = real.substr(4);
  }
  // Like every path the program builds from its parts: "/" between the names.
  std::replace(real.begin(), real.end(), L'\\', L'/');
  return Utf8Of(real);
}

}  // namespace platform
