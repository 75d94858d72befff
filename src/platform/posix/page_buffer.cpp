// The mmap and munmap calls behind TPageBuffer.
#include "platform/page_buffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

std::optional<TPageBuffer> TPageBuffer::Map(size_t bytes, std::string* error) {
  if (bytes == 0) return TPageBuffer();
  const auto page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  const size_t capacity = (bytes + page - 1) / page * page;
  void* data = ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (data == MAP_FAILED) {
    if (error) *error = "mmap " + std::to_string(capacity) + " bytes: " + std::strerror(errno);
    return std::nullopt;
  }
  return TPageBuffer(static_cast<char*>(data), capacity);
}

void TPageBuffer::Release() {
  if (data_ != nullptr) ::munmap(data_, capacity_);
  data_ = nullptr;
  capacity_ = 0;
}

}  // namespace platform
