// The VirtualAlloc and VirtualFree calls behind TPageBuffer.
#include "platform/page_buffer.h"

#include "platform/windows/error_text.h"
#include "platform/windows/windows_api.h"

namespace platform {

std::optional<TPageBuffer> TPageBuffer::Map(size_t bytes, std::string* error) {
  if (bytes == 0) return TPageBuffer();
  SYSTEM_INFO system{};
  ::GetSystemInfo(&system);
  const size_t page = system.dwPageSize;
  const size_t capacity = (bytes + page - 1) / page * page;
  // Committed pages are zero-filled and take memory only once written.
  void* data = ::VirtualAlloc(nullptr, capacity, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (data == nullptr) {
    if (error) *error = "VirtualAlloc " + std::to_string(capacity) + " bytes: " + LastErrorText();
    return std::nullopt;
  }
  return TPageBuffer(static_cast<char*>(data), capacity);
}

void TPageBuffer::Release() {
  if (data_ != nullptr) ::VirtualFree(data_, 0, MEM_RELEASE);
  data_ = nullptr;
  capacity_ = 0;
}

}  // namespace platform
