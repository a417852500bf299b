// GetModuleFileNameW on Linux: the kernel names the running executable in
// /proc/self/exe.
#include <unistd.h>

#include <cstring>

#include "platform/files.h"

namespace platform {

std::uint32_t moduleFileName(char* buffer, std::uint32_t size) {
  if (buffer == nullptr || size == 0) return 0;
  char path[4096];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof path) return 0;
  std::uint32_t length = static_cast<std::uint32_t>(n);
  if (length >= size) {
    // As GetModuleFileNameA: the text is cut to fit with its terminator and
    // the buffer's size is reported.
    std::memcpy(buffer, path, size - 1);
    buffer[size - 1] = '\0';
    return size;
  }
  std::memcpy(buffer, path, length);
  buffer[length] = '\0';
  return length;
}

}  // namespace platform
