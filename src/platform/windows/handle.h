// Owner of one Win32 handle (a file, a directory search aside): closes it
// when destroyed. The handle is kept as void* (what HANDLE is), so that the
// headers that hold one need not include <windows.h>.
#pragma once

namespace platform {

class THandle {
 public:
  THandle() = default;
  // Takes ownership; a null or INVALID_HANDLE_VALUE handle means none.
  explicit THandle(void* handle);
  ~THandle();
  THandle(THandle&& other) noexcept;
  THandle& operator=(THandle&& other) noexcept;
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;

  bool Valid() const { return handle_ != nullptr; }
  void* Get() const { return handle_; }
  void Close();

 private:
  void* handle_ = nullptr;
};

}  // namespace platform
