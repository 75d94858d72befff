// File-system operations of the program. Paths use "/" (Windows takes the
// backslash too); every function reports a failure as false plus an error
// text naming the call and the path. On Windows every file is opened shared
// for reading, writing and deleting: the ban tool, the admin's editor and the
// server may each hold a file the other reads, writes or renames over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// Creates one directory level; true when it exists afterwards.
bool MakeDirectory(const std::string& path, std::string* error = nullptr);
bool RenameFile(const std::string& from, const std::string& to, std::string* error = nullptr);
// Creates the file empty, or truncates it to length 0.
bool CreateEmptyFile(const std::string& path, std::string* error = nullptr);
// Appends the bytes at the end of the file, creating it when missing.
bool AppendToFile(const std::string& path, const std::string& bytes, std::string* error = nullptr);
// Appends the bytes at the end of a file that exists (fails on a missing one,
// creating nothing), with O_APPEND (FILE_APPEND_DATA on Windows): one short
// write lands whole after every other process's writes, never inside one.
bool AppendToExistingFile(const std::string& path, const std::string& bytes, std::string* error = nullptr);
// Appends one line (which ends in its own line end) whole or not at all: a
// write that fails is cut back to the file's previous end, and the bytes are
// flushed to disk before it returns. When the file ends in a fragment without
// a line end (a write cut short earlier), lineEnd is added first, so the new
// line never glues onto it; terminated says so.
bool AppendLineWhole(const std::string& path, const std::string& line, const std::string& lineEnd, bool* terminated,
                     std::string* error = nullptr);
// Creates or overwrites the file with exactly these bytes.
bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* error = nullptr);
// Replaces the file's content as one step: writes a temporary file in the same
// directory, flushes it to disk, renames it over the file and flushes the
// directory (on Windows the rename is written through). A crash at any moment
// leaves the old or the new content whole. On failure the temporary file is
// removed and the old file is untouched. A file that did not exist is created
// the same way, so a failed write never leaves a short file behind.
bool ReplaceFileAtomically(const std::string& path, std::string_view bytes, std::string* error = nullptr);
// Sets the file's time of last write (and of last access) to the given moment.
bool SetModifiedTime(const std::string& path, int64_t unixSeconds, int64_t nanoseconds, std::string* error = nullptr);
// The smallest step of a file time that the system keeps: 1 ns on Linux, 100
// ns on Windows (a time set finer is cut down to it).
int64_t FileTimeStepNanoseconds();
// Removes a file (not a directory).
bool RemoveFile(const std::string& path, std::string* error = nullptr);
// The size of a regular file in bytes; nullopt when there is none at path.
std::optional<long long> FileSize(const std::string& path);
// Which file a path names now (device and inode; on Windows volume serial
// number and file index): a file deleted, or replaced by a rename, has another
// identity (or none) than the one opened earlier.
struct TFileIdentity {
  uint64_t Device = 0;
  uint64_t Inode = 0;
  bool operator==(const TFileIdentity&) const = default;
};
std::optional<TFileIdentity> FileIdentity(const std::string& path);
// Whether this process may write the file: true when it is missing; false
// with the reason for a file that is read-only to us or immutable (chattr +i;
// on Windows also the read-only attribute).
bool WritableIfPresent(const std::string& path, std::string* error = nullptr);
// The absolute path with every link, "." and ".." resolved ("/" between the
// names on Windows too: "C:/acserver/zelk_screens"); nullopt when the path
// does not exist or cannot be resolved.
std::optional<std::string> RealPath(const std::string& path);
bool ReadWholeFile(const std::string& path, std::string& bytes, std::string* error = nullptr);
// Reads a text file as lines: a line ends at LF; a CR before the LF is removed,
// and so is a CR that is not followed by LF. The last line needs no line end.
bool ReadTextLines(const std::string& path, std::vector<std::string>& lines, std::string* error = nullptr);
// Splits text into lines with the rule of ReadTextLines.
std::vector<std::string> SplitTextLines(const std::string& text);
// At most the last maxBytes of the file (all of it when shorter).
bool ReadFileTail(const std::string& path, size_t maxBytes, std::string& bytes, std::string* error = nullptr);

struct DirectoryEntry {
  std::string Name;
  bool IsDirectory = false;
  int64_t Bytes = 0;
  int64_t ModifiedUnixSeconds = 0;
  int64_t ModifiedNanoseconds = 0;  // within that second, to order files written in the same one
};
// The entries of a directory ("." and ".." left out), in no order; symbolic
// links are not followed and not listed.
bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>& entries, std::string* error = nullptr);

}  // namespace platform
