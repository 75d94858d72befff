// Random bytes from the system's source (getrandom; BCryptGenRandom on
// Windows), for secrets: the web console's session tokens, its page token and
// nonces.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Fills size bytes at out from the system's random source; false when the
// system gives none (then out holds nothing usable). Thread safe.
bool RandomBytes(void* out, size_t size);

// bytes random bytes as lower-case hex (2 * bytes characters). Aborts the
// process when the system has no random source: a guessable secret is worse
// than no console. Thread safe.
std::string RandomHex(size_t bytes);

}  // namespace platform
