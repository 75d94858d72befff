#include "accounts/password_hash.h"

#include <sodium.h>

namespace {

// sodium_init is safe to call from any thread, any number of times.
bool Ready() { return sodium_init() >= 0; }

}  // namespace

std::optional<std::string> HashPassword(const std::string& password) {
  if (!Ready()) return std::nullopt;
  char hash[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str_alg(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                            crypto_pwhash_MEMLIMIT_INTERACTIVE, crypto_pwhash_ALG_ARGON2ID13) != 0) {
    return std::nullopt;
  }
  return std::string(hash);
}

bool PasswordMatches(const std::string& hash, const std::string& password) {
  if (!Ready() || hash.empty() || hash.size() >= crypto_pwhash_STRBYTES) return false;
  return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}
