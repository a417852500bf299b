#include "update/release_record.h"

#include <optional>
#include <string>

#include "platform/files.h"
#include "update/list_signature.h"
#include "update/version_list.h"

namespace update {

std::uint32_t readInstalledRelease(const char* fileName) {
  // At most ten digits and the line end; anything longer is no record.
  const std::optional<std::string> text = platform::readWholeFile(fileName, 15);
  if (!text || text->empty() || text->back() != '\n') return 0;
  std::uint32_t release = 0;
  for (std::size_t i = 0; i + 1 < text->size(); ++i) {
    const char c = (*text)[i];
    if (c < '0' || c > '9') return 0;
    release = release * 10 + static_cast<std::uint32_t>(c - '0');
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

}  // namespace update
