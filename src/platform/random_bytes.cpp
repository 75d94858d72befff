// Random bytes as hex text, from the system's source (posix/ and windows/).
#include "platform/random_bytes.h"

#include <cstdlib>
#include <vector>

namespace platform {

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
