#include "platform/random_bytes.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace platform {

bool RandomBytes(void* out, size_t size) {
  auto* at = static_cast<unsigned char*>(out);
  while (size > 0) {
    const ssize_t got = ::getrandom(at, size, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    at += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

std::string RandomHex(size_t bytes) {
  std::vector<unsigned char> raw(bytes);
  if (!RandomBytes(raw.data(), raw.size())) std::abort();
  const char* digits = "0123456789abcdef";
  std::string out;
  out.reserve(2 * bytes);
  for (const unsigned char value : raw) {
    out += digits[value >> 4];
    out += digits[value & 0x0F];
  }
  return out;
}

}  // namespace platform
