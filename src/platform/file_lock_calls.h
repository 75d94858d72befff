// The system's side of TFileLock (posix/file_lock.cpp, windows/file_lock.cpp):
// file_lock.cpp builds the three ways of taking the lock on these calls.
#pragma once

#include <optional>
#include <string>

#include "platform/file_lock.h"

namespace platform {

enum class TLockTry { Taken, Busy, Failed };

// The locking call as error texts name it.
extern const char* const kLockCallName;
// Opens the lock file, creating it when missing; nullopt with the reason.
std::optional<TLockFileOwner> OpenLockFile(const std::string& path, std::string* error);
// Takes the exclusive lock, waiting for it (wait) or not: Busy when another
// holder has it and wait is false, Failed with the reason in error.
TLockTry LockExclusive(const TLockFileOwner& file, bool wait, const std::string& path, std::string* error);
// The first bytes of the file (the holder's mark), at most 31; "?" for none.
std::string ReadLockMark(const TLockFileOwner& file);
// Replaces the file's text with mark; false with the reason.
bool WriteLockMark(const TLockFileOwner& file, const std::string& mark, const std::string& path, std::string* error);
// Gives the lock up before the file is closed, where closing alone might
// release it late.
void ReleaseLock(const TLockFileOwner& file);
// This process's id, as the mark shows it.
std::string ProcessIdText();

}  // namespace platform
