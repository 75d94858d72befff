#include "registry/screen_buffer.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

ScreenBuffer::ScreenBuffer(ScreenBuffer&& other) noexcept
    : Position(std::exchange(other.Position, 0)), pages_(std::move(other.pages_)),
      size_(std::exchange(other.size_, 0)) {}

ScreenBuffer& ScreenBuffer::operator=(ScreenBuffer&& other) noexcept {
  if (this != &other) {
    Position = std::exchange(other.Position, 0);
    pages_ = std::move(other.pages_);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

bool ScreenBuffer::Reserve(size_t capacity) {
  if (capacity <= pages_.Capacity()) return true;
  std::optional<platform::TPageBuffer> larger = platform::TPageBuffer::Map(capacity, nullptr);
  if (!larger) return false;
  if (size_ > 0) std::memcpy(larger->Data(), pages_.Data(), size_);
  pages_ = std::move(*larger);
  return true;
}

bool ScreenBuffer::Write(std::string_view piece) {
  const size_t end = Position + piece.size();
  if (end > pages_.Capacity() && !Reserve(std::max(end, 2 * pages_.Capacity()))) return false;
  if (!piece.empty()) std::memcpy(pages_.Data() + Position, piece.data(), piece.size());
  // A position set past the end leaves zero bytes between, as the mapping holds.
  size_ = std::max(size_, end);
  Position = end;
  return true;
}

void ScreenBuffer::Clear() {
  pages_.Release();
  size_ = 0;
  Position = 0;
}
