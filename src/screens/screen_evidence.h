// The evidence of a ban: the screenshots the banned client sent shortly
// before it. They are found by the names the screen receiver gives its files
// ("<root>/<address>/^<date>^<time>^IP^<address>^ID^<identifier>.jpg") and their time of last write.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// How far back evidence reaches, and how many screenshots a ban keeps.
inline constexpr int64_t kEvidenceWindowSeconds = 30 * 60;
inline constexpr size_t kEvidenceMaxFiles = 5;

// The screenshots of the client (address, identifier) written in the 30
// minutes up to at (Unix seconds, both ends included), newest first, at most
// 5, as paths relative to root ("<address>/<file>"). Empty when there are
// none, when the address's directory is missing, or when the address could
// not be a directory name of the receiver's (empty, ".", "..", or with "/");
// false with the reason only when the directory exists but cannot be read.
// Thread safe.
bool FindScreenEvidence(const std::string& root, const std::string& address, const std::string& identifier,
                        int64_t at, std::vector<std::string>& paths, std::string* error = nullptr);
