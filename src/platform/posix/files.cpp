// File-system calls on POSIX, with the errors that name the failing call.
#include "platform/files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

namespace platform {
namespace {

bool Fail(std::string* error, const std::string& what, const std::string& path) {
  if (error) *error = what + " " + path + ": " + std::strerror(errno);
  return false;
}

// Writes all bytes to fd; false on an error (errno set).
bool WriteAllTo(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool WriteWithFlags(const std::string& path, const std::string& bytes, int flags, std::string* error) {
  int fd = ::open(path.c_str(), flags | O_WRONLY | O_CLOEXEC, 0644);
  if (fd < 0) return Fail(error, "open", path);
  bool ok = WriteAllTo(fd, bytes);
  int saved = errno;
  if (::close(fd) != 0 && ok) return Fail(error, "close", path);
  if (!ok) {
    errno = saved;
    return Fail(error, "write", path);
  }
  return true;
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectory(const std::string& path, std::string* error) {
  if (::mkdir(path.c_str(), 0755) == 0) return true;
  if (errno == EEXIST && DirectoryExists(path)) return true;
  return Fail(error, "mkdir", path);
}

bool RenameFile(const std::string& from, const std::string& to, std::string* error) {
  if (::rename(from.c_str(), to.c_str()) == 0) return true;
  return Fail(error, "rename", from + " -> " + to);
}

bool CreateEmptyFile(const std::string& path, std::string* error) {
  return WriteWithFlags(path, std::string(), O_CREAT | O_TRUNC, error);
}

bool AppendToFile(const std::string& path, const std::string& bytes, std::string* error) {
  return WriteWithFlags(path, bytes, O_CREAT | O_APPEND, error);
}

bool AppendToExistingFile(const std::string& path, const std::string& bytes, std::string* error) {
  return WriteWithFlags(path, bytes, O_APPEND, error);
}

bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* error) {
  return WriteWithFlags(path, bytes, O_CREAT | O_TRUNC, error);
}

bool ReplaceFileAtomically(const std::string& path, std::string_view bytes, std::string* error) {
  static std::atomic<unsigned> counter{0};
  std::string temp = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return Fail(error, "open", temp);
  if (!WriteAllTo(fd, bytes) || ::fsync(fd) != 0) {
    int saved = errno;
    ::close(fd);
    ::unlink(temp.c_str());
    errno = saved;
    return Fail(error, "write", temp);
  }
  if (::close(fd) != 0) {
    int saved = errno;
    ::unlink(temp.c_str());
    errno = saved;
    return Fail(error, "close", temp);
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    int saved = errno;
    ::unlink(temp.c_str());
    errno = saved;
    return Fail(error, "rename", temp + " -> " + path);
  }
  // Make the rename itself durable.
  int dir = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

bool RemoveFile(const std::string& path, std::string* error) {
  if (::unlink(path.c_str()) == 0) return true;
  return Fail(error, "unlink", path);
}

std::optional<long long> FileSize(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return static_cast<long long>(st.st_size);
}

std::optional<TFileIdentity> FileIdentity(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return TFileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

bool WritableIfPresent(const std::string& path, std::string* error) {
  // access() answers for the immutable flag too (EPERM), even for root.
  if (::access(path.c_str(), W_OK) == 0 || errno == ENOENT) return true;
  if (error) *error = path + " cannot be written (" + std::strerror(errno) + ")";
  return false;
}

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string* error) {
  bytes.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Fail(error, "open", path);
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int saved = errno;
      ::close(fd);
      errno = saved;
      return Fail(error, "read", path);
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

bool ReadFileTail(const std::string& path, size_t maxBytes, std::string& bytes, std::string* error) {
  bytes.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Fail(error, "open", path);
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    int saved = errno;
    ::close(fd);
    errno = saved;
    return Fail(error, "fstat", path);
  }
  const auto size = static_cast<size_t>(info.st_size);
  const size_t from = size > maxBytes ? size - maxBytes : 0;
  bytes.resize(size - from);
  size_t got = 0;
  while (got < bytes.size()) {
    ssize_t n = ::pread(fd, bytes.data() + got, bytes.size() - got, static_cast<off_t>(from + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the file shrank meanwhile: keep what was read
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  ::close(fd);
  return true;
}

bool AppendLineWhole(const std::string& path, const std::string& line, const std::string& lineEnd, bool* terminated,
                     std::string* error) {
  if (terminated) *terminated = false;
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return Fail(error, "open", path);
  auto fail = [&](const char* what) {
    int saved = errno;
    ::close(fd);
    errno = saved;
    return Fail(error, what, path);
  };
  struct stat info {};
  if (::fstat(fd, &info) != 0) return fail("fstat");
  const off_t end = info.st_size;
  std::string bytes = line;
  if (end > 0) {
    char last = '\n';
    if (::pread(fd, &last, 1, end - 1) != 1) return fail("read");
    if (last != '\n') {
      bytes = lineEnd + line;
      if (terminated) *terminated = true;
    }
  }
  size_t written = 0;
  while (written < bytes.size()) {
    ssize_t n = ::pwrite(fd, bytes.data() + written, bytes.size() - written, end + static_cast<off_t>(written));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // Nothing of a record that is not whole may stay: cut back to the old end.
      int saved = n < 0 ? errno : ENOSPC;
      (void)::ftruncate(fd, end);
      ::close(fd);
      errno = saved;
      if (terminated) *terminated = false;
      return Fail(error, "write", path);
    }
    written += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0) {
    int saved = errno;
    (void)::ftruncate(fd, end);
    ::close(fd);
    errno = saved;
    return Fail(error, "fsync", path);
  }
  ::close(fd);
  return true;
}

int64_t FileTimeStepNanoseconds() { return 1; }

bool SetModifiedTime(const std::string& path, int64_t unixSeconds, int64_t nanoseconds, std::string* error) {
  timespec times[2]{};
  times[0].tv_sec = static_cast<time_t>(unixSeconds);
  times[0].tv_nsec = static_cast<long>(nanoseconds);
  times[1] = times[0];
  if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) return Fail(error, "utimensat", path);
  return true;
}

bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>& entries, std::string* error) {
  entries.clear();
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return Fail(error, "opendir", path);
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat info {};
    if (::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode)) continue;
    entries.push_back({name, S_ISDIR(info.st_mode), static_cast<int64_t>(info.st_size),
                       static_cast<int64_t>(info.st_mtim.tv_sec), static_cast<int64_t>(info.st_mtim.tv_nsec)});
  }
  ::closedir(dir);
  return true;
}

std::optional<std::string> RealPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return std::nullopt;
  std::string result(resolved);
  std::free(resolved);
  return result;
}

}  // namespace platform
