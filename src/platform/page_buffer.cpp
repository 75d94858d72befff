// What TPageBuffer does the same on every system: its ownership.
#include "platform/page_buffer.h"

namespace platform {

TPageBuffer::~TPageBuffer() { Release(); }

TPageBuffer::TPageBuffer(TPageBuffer&& other) noexcept : data_(other.data_), capacity_(other.capacity_) {
  other.data_ = nullptr;
  other.capacity_ = 0;
}

TPageBuffer& TPageBuffer::operator=(TPageBuffer&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = other.data_;
    capacity_ = other.capacity_;
    other.data_ = nullptr;
    other.capacity_ = 0;
  }
  return *this;
}

}  // namespace platform
