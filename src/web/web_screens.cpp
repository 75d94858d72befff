#include "web/web_screens.h"

#include <algorithm>
#include <optional>

#include "platform/files.h"
#include "platform/socket.h"
#include "screens/screen_receiver.h"

namespace {

constexpr size_t kMaxScreensListed = 300;

bool IsDottedAddress(const std::string& text) { return platform::ParseDottedAddress(text).has_value(); }

// A screenshot file name: "^date^time^IP^address^ID^identifier.jpg".
bool IsScreenFileName(const std::string& name) {
  return name.size() > 4 && name.compare(name.size() - 4, 4, ".jpg") == 0 && name[0] != '.' &&
         name.find('/') == std::string::npos;
}

std::string IdentifierOf(const std::string& file) {
  const size_t at = file.rfind("^ID^");
  return at == std::string::npos ? std::string() : file.substr(at + 4, file.size() - 4 - (at + 4));
}

}  // namespace

std::vector<TScreenFile> ListScreens(const SettingsRecord& settings) {
  std::vector<TScreenFile> screens;
  const std::string root = ScreenRootDirectory(settings);
  std::vector<platform::DirectoryEntry> addresses;
  if (!platform::ListDirectory(root, addresses)) return screens;
  for (const platform::DirectoryEntry& address : addresses) {
    if (!address.IsDirectory || !IsDottedAddress(address.Name)) continue;
    std::vector<platform::DirectoryEntry> files;
    if (!platform::ListDirectory(root + address.Name, files)) continue;
    for (const platform::DirectoryEntry& file : files) {
      if (file.IsDirectory || !IsScreenFileName(file.Name)) continue;
      screens.push_back({address.Name, file.Name, IdentifierOf(file.Name), file.Bytes, file.ModifiedUnixSeconds});
    }
  }
  std::sort(screens.begin(), screens.end(), [](const TScreenFile& a, const TScreenFile& b) {
    return a.ModifiedUnixSeconds != b.ModifiedUnixSeconds ? a.ModifiedUnixSeconds > b.ModifiedUnixSeconds
                                                          : a.File > b.File;
  });
  if (screens.size() > kMaxScreensListed) screens.resize(kMaxScreensListed);
  return screens;
}

std::string ListedScreenPath(const SettingsRecord& settings, const std::string& address, const std::string& file) {
  if (!IsDottedAddress(address) || !IsScreenFileName(file)) return std::string();
  std::vector<platform::DirectoryEntry> files;
  const std::string dir = ScreenRootDirectory(settings) + address;
  if (!platform::ListDirectory(dir, files)) return std::string();
  for (const platform::DirectoryEntry& entry : files) {
    if (entry.IsDirectory || entry.Name != file) continue;
    // A link (to a directory or a file) may lead out of the screen
    // directory: only a file whose real path lies inside it is served.
    const std::optional<std::string> root = platform::RealPath(ScreenRootDirectory(settings));
    const std::optional<std::string> real = platform::RealPath(dir + "/" + entry.Name);
    if (!root || !real || real->compare(0, root->size() + 1, *root + "/") != 0) return std::string();
    return *real;
  }
  return std::string();
}
