// Files and folders through the kernel's file calls. Windows takes "\" and "/"
// alike as folder separators, so paths go to it as they are.
#include "platform/files.h"

#include <io.h>
#include <windows.h>

namespace platform {

namespace {

HANDLE native(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

File File::open(const char* path, Access access) {
  File file;
  if (path == nullptr) return file;
  HANDLE handle = access == Access::ReadExisting
                      ? ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr)
                      : ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
  // INVALID_HANDLE_VALUE is -1, the closed value of handle_.
  file.handle_ = reinterpret_cast<std::intptr_t>(handle);
  return file;
}

bool File::isOpen() const { return native(handle_) != INVALID_HANDLE_VALUE; }

bool File::read(void* buffer, std::uint32_t size, std::uint32_t* got) {
  *got = 0;
  if (!isOpen()) return false;
  DWORD n = 0;
  if (!::ReadFile(native(handle_), buffer, size, &n, nullptr)) return false;
  *got = n;
  return true;
}

bool File::write(const void* buffer, std::uint32_t size) {
  if (!isOpen()) return false;
  const char* bytes = static_cast<const char*>(buffer);
  std::uint32_t left = size;
  while (left > 0) {
    DWORD n = 0;
    if (!::WriteFile(native(handle_), bytes, left, &n, nullptr) || n == 0) return false;
    bytes += n;
    left -= n;
  }
  return true;
}

bool File::flush() { return isOpen() && ::FlushFileBuffers(native(handle_)) != 0; }

bool File::close() {
  if (!isOpen()) return true;
  HANDLE handle = native(handle_);
  handle_ = -1;
  return ::CloseHandle(handle) != 0;
}

bool deleteFile(const char* path) { return path != nullptr && ::DeleteFileA(path) != 0; }

bool replaceFile(const char* from, const char* to) {
  if (from == nullptr || to == nullptr) return false;
  return ::MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

int accessCheck(const char* path) {
  if (path == nullptr) return EINVAL;
  return ::_access_s(path, 0);
}

bool createDirectory(const char* path) { return path != nullptr && ::CreateDirectoryA(path, nullptr) != 0; }

bool setCurrentDirectory(const char* path) { return path != nullptr && ::SetCurrentDirectoryA(path) != 0; }

std::uint32_t moduleFileName(char* buffer, std::uint32_t size) {
  if (buffer == nullptr || size == 0) return 0;
  DWORD length = ::GetModuleFileNameA(nullptr, buffer, size);
  // Windows XP left a cut text without its terminator; later versions end it.
  // Either way the caller gets a terminated text and the buffer's size.
  if (length >= size) {
    buffer[size - 1] = '\0';
    return size;
  }
  return length;
}

void sleepMilliseconds(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace platform
