#include "platform/windows/handle.h"

#include "platform/windows/windows_api.h"

#include <utility>

namespace platform {

THandle::THandle(void* handle) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}

THandle::~THandle() { Close(); }

THandle::THandle(THandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

THandle& THandle::operator=(THandle&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

void THandle::Close() {
  if (handle_ != nullptr) ::CloseHandle(handle_);
  handle_ = nullptr;
}

}  // namespace platform
