// Memory taken straight from the kernel for large buffers whose memory must go
// back to the system the moment they are freed (a screenshot under transfer):
// an anonymous private mapping (VirtualAlloc on Windows), unmapped when the
// buffer is destroyed or released. The C++ heap would keep a freed block for
// later use, so the process would stay at its peak size after a transfer ends.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace platform {

// Owns one mapping of Capacity() bytes, zero-filled. Pages count in the
// process's resident size only once written. Move-only.
class TPageBuffer {
 public:
  TPageBuffer() = default;
  ~TPageBuffer();
  TPageBuffer(TPageBuffer&& other) noexcept;
  TPageBuffer& operator=(TPageBuffer&& other) noexcept;
  TPageBuffer(const TPageBuffer&) = delete;
  TPageBuffer& operator=(const TPageBuffer&) = delete;

  // A mapping of at least bytes bytes (whole pages). nullopt with the failing
  // call named in error when the system refuses it (out of memory or address
  // space). A request of 0 bytes gives an empty buffer that maps nothing.
  static std::optional<TPageBuffer> Map(size_t bytes, std::string* error);

  char* Data() { return data_; }
  const char* Data() const { return data_; }
  size_t Capacity() const { return capacity_; }
  // Unmaps now: the memory is the system's again. Idempotent.
  void Release();

 private:
  TPageBuffer(char* data, size_t capacity) : data_(data), capacity_(capacity) {}
  char* data_ = nullptr;
  size_t capacity_ = 0;
};

}  // namespace platform
