// The system's random source: BCryptGenRandom with the system's preferred
// generator.
#include "platform/random_bytes.h"

#include <algorithm>

#include "platform/windows/windows_api.h"

#include <bcrypt.h>

namespace platform {

bool RandomBytes(void* out, size_t size) {
  auto* at = static_cast<unsigned char*>(out);
  while (size > 0) {
    const auto chunk = static_cast<ULONG>(std::min<size_t>(size, 1u << 30));
    if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, at, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) return false;
    at += chunk;
    size -= chunk;
  }
  return true;
}

}  // namespace platform
