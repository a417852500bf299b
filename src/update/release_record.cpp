#include "update/release_record.h"

#include <string>

#include "platform/files.h"
#include "update/list_signature.h"
#include "update/version_list.h"

std::uint32_t readInstalledRelease(const char* fileName) {
  platform::File file = platform::File::open(fileName, platform::File::Access::ReadExisting);
  if (!file.isOpen()) return 0;
  char text[16];
  std::uint32_t got = 0;
  if (!file.read(text, sizeof text, &got) || got == 0 || got == sizeof text || text[got - 1] != '\n') return 0;
  std::uint32_t release = 0;
  for (std::uint32_t i = 0; i + 1 < got; ++i) {
    if (text[i] < '0' || text[i] > '9') return 0;
    release = release * 10 + static_cast<std::uint32_t>(text[i] - '0');
    if (release > kMaxRelease) return 0;
  }
  return release;
}

bool recordInstalledRelease(const char* fileName, std::uint32_t release) {
  const std::string text = std::to_string(release) + "\n";
  return replaceFileAtomically(fileName, [&text](platform::File& file) {
    return file.write(text.data(), static_cast<std::uint32_t>(text.size()));
  });
}
