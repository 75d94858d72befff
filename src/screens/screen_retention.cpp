#include "screens/screen_retention.h"

#include <algorithm>
#include <tuple>
#include <vector>

#include "platform/files.h"

namespace {

struct TScreenFileEntry {
  std::string Relative;  // "<address>/<file>"
  int64_t Bytes = 0;
  int64_t Seconds = 0;
  int64_t Nanoseconds = 0;
};

bool IsScreenshotName(const std::string& name) {
  return name.size() > 5 && name[0] == '^' && name.compare(name.size() - 4, 4, ".jpg") == 0;
}

// Every screenshot under root, oldest first.
std::vector<TScreenFileEntry> ListScreenFiles(const std::string& root) {
  std::vector<TScreenFileEntry> files;
  std::vector<platform::DirectoryEntry> directories;
  if (!platform::ListDirectory(root, directories)) return files;
  for (const platform::DirectoryEntry& directory : directories) {
    if (!directory.IsDirectory) continue;
    std::vector<platform::DirectoryEntry> entries;
    if (!platform::ListDirectory(root + directory.Name, entries)) continue;
    for (const platform::DirectoryEntry& entry : entries) {
      if (entry.IsDirectory || !IsScreenshotName(entry.Name)) continue;
      files.push_back({directory.Name + "/" + entry.Name, entry.Bytes, entry.ModifiedUnixSeconds,
                       entry.ModifiedNanoseconds});
    }
  }
  std::sort(files.begin(), files.end(), [](const TScreenFileEntry& a, const TScreenFileEntry& b) {
    return std::tie(a.Seconds, a.Nanoseconds, a.Relative) < std::tie(b.Seconds, b.Nanoseconds, b.Relative);
  });
  return files;
}

std::string Megabytes(int64_t bytes) {
  const int64_t tenths = (bytes * 10 + 524288) / 1048576;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

}  // namespace

TScreenPrune PruneScreens(const std::string& root, const TScreenRetention& bounds,
                          const std::set<std::string>& evidence, int64_t nowUnixSeconds) {
  TScreenPrune pass;
  const std::string dir = root.empty() || root.back() == '/' ? root : root + "/";
  const std::vector<TScreenFileEntry> files = ListScreenFiles(dir);
  int64_t total = 0;
  for (const TScreenFileEntry& file : files) total += file.Bytes;
  const int64_t oldest = bounds.KeepDays > 0 ? nowUnixSeconds - int64_t{bounds.KeepDays} * 86400 : INT64_MIN;
  // Oldest first: the age bound, then the size bound, take from the front.
  for (const TScreenFileEntry& file : files) {
    const bool tooOld = file.Seconds < oldest;
    const bool overSize = bounds.MaxBytes > 0 && total > bounds.MaxBytes;
    if (!tooOld && !overSize) break;
    if (evidence.count(file.Relative) != 0) {
      ++pass.KeptAsEvidence;
      continue;
    }
    std::string error;
    if (platform::RemoveFile(dir + file.Relative, &error)) {
      ++pass.Removed;
      pass.FreedBytes += file.Bytes;
      total -= file.Bytes;
    } else {
      if (pass.Failed++ == 0) pass.Error = error;
    }
  }
  return pass;
}

std::string ScreenPruneLine(const TScreenPrune& pass, const TScreenRetention& bounds) {
  if (pass.Removed == 0 && pass.Failed == 0) return std::string();
  std::string line = "Screenshots: removed " + std::to_string(pass.Removed) + " files (" +
                     Megabytes(pass.FreedBytes) + " MB freed) older than " + std::to_string(bounds.KeepDays) +
                     " days or over " + std::to_string(bounds.MaxBytes / 1048576) + " MB in all";
  if (pass.KeptAsEvidence > 0) line += "; kept " + std::to_string(pass.KeptAsEvidence) + " that are evidence of bans";
  if (pass.Failed > 0) line += "; " + std::to_string(pass.Failed) + " could not be removed (" + pass.Error + ")";
  return line;
}
