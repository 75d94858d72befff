#include "screens/screen_evidence.h"

#include <algorithm>

#include "platform/files.h"
#include "screens/screen_receiver.h"

bool FindScreenEvidence(const std::string& root, const std::string& address, const std::string& identifier,
                        int64_t at, std::vector<std::string>& paths, std::string* error) {
  paths.clear();
  if (address.empty() || address == "." || address == ".." || address.find('/') != std::string::npos) return true;
  const std::string directory = root + (root.empty() || root.back() == '/' ? "" : "/") + address;
  if (!platform::DirectoryExists(directory)) return true;
  std::vector<platform::DirectoryEntry> entries;
  if (!platform::ListDirectory(directory, entries, error)) return false;
  const std::string ending = "^IP^" + address + "^ID^" + SafeIdentifier(identifier) + ".jpg";
  std::erase_if(entries, [&](const platform::DirectoryEntry& entry) {
    return entry.IsDirectory || !entry.Name.ends_with(ending) || entry.ModifiedUnixSeconds > at ||
           entry.ModifiedUnixSeconds < at - kEvidenceWindowSeconds;
  });
  std::sort(entries.begin(), entries.end(), [](const platform::DirectoryEntry& a, const platform::DirectoryEntry& b) {
    if (a.ModifiedUnixSeconds != b.ModifiedUnixSeconds) return a.ModifiedUnixSeconds > b.ModifiedUnixSeconds;
    if (a.ModifiedNanoseconds != b.ModifiedNanoseconds) return a.ModifiedNanoseconds > b.ModifiedNanoseconds;
    return a.Name > b.Name;
  });
  for (size_t i = 0; i < entries.size() && i < kEvidenceMaxFiles; ++i) paths.push_back(address + "/" + entries[i].Name);
  return true;
}
