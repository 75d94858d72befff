// Password hashes with argon2id (libsodium's crypto_pwhash_str, its
// "interactive" limits: about 64 MB and a tenth of a second a hash), so that a
// stolen acserver.db or shared base gives no password back cheaply. Each call
// takes that time and memory: never call one holding a lock others wait on.
#pragma once

#include <optional>
#include <string>

// The hash text of password (it holds the salt and the limits); nullopt when
// the library cannot work (out of memory). Thread safe.
std::optional<std::string> HashPassword(const std::string& password);
// Whether password is the one hash was made from. False for a hash that is
// no argon2 text. Thread safe.
bool PasswordMatches(const std::string& hash, const std::string& password);
