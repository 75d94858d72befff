// A client slot's screenshot buffer.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/page_buffer.h"

// A screenshot under transfer: bytes written at a position. Its memory is
// mapped from the system for the announced size when the transfer opens
// (pages count only once written) and unmapped by Clear, so a transfer that
// ends in any way gives its memory back at once.
class ScreenBuffer {
 public:
  ScreenBuffer() = default;
  ScreenBuffer(ScreenBuffer&& other) noexcept;
  ScreenBuffer& operator=(ScreenBuffer&& other) noexcept;

  size_t Position = 0;  // where the next piece is written

  // Makes room for capacity bytes up front, so that no piece moves the
  // buffer. False when the system gives no memory.
  bool Reserve(size_t capacity);
  // Writes at Position, extending the size when the write passes the end
  // (and the room, when it passes that). False, with nothing written, when
  // the system gives no memory.
  bool Write(std::string_view piece);
  // The bytes held; valid until the next Write or Clear.
  std::string_view Bytes() const { return {pages_.Data(), size_}; }
  size_t Size() const { return size_; }
  // The memory mapped now (tests).
  size_t Capacity() const { return pages_.Capacity(); }
  // Size 0, position 0, and the memory returned to the system.
  void Clear();

 private:
  platform::TPageBuffer pages_;
  size_t size_ = 0;
};
