// The screenshots the web console lists and serves: only JPEG files one
// level below the screen directory, in directories named by an IPv4 address.
#pragma once

#include <string>
#include <vector>

#include "base/settings.h"
#include "web/web_json.h"

// Every screenshot under the settings' screen directory, newest first, at
// most 300. Thread safe.
std::vector<TScreenFile> ListScreens(const SettingsRecord& settings);
// The real path of a listed screenshot; empty for anything the listing does
// not hold or whose real path (links followed) lies outside the screen
// directory, so no text from a request reaches the file system unchecked.
// Thread safe.
std::string ListedScreenPath(const SettingsRecord& settings, const std::string& address, const std::string& file);
