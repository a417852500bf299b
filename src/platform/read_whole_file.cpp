// Reading a whole file, the same on every backend: it uses only File.
#include "platform/files.h"

namespace platform {

std::optional<std::string> readWholeFile(const char* path, std::size_t maxBytes) {
  File file = File::open(path, File::Access::ReadExisting);
  if (!file.isOpen()) return std::nullopt;
  std::string bytes;
  char chunk[16384];
  while (true) {
    std::uint32_t got = 0;
    if (!file.read(chunk, sizeof chunk, &got)) return std::nullopt;
    if (got == 0) return bytes;
    if (got > maxBytes - bytes.size()) return std::nullopt;
    bytes.append(chunk, got);
  }
}

}  // namespace platform
