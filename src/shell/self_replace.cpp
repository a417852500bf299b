#include "shell/self_replace.h"

#include <memory>
#include <vector>

#include "platform/files.h"
#include "update/download_plan.h"
#include "update/version_list.h"

namespace {

constexpr std::uint32_t kCopyBufferSize = 4 * 1024 * 1024;
constexpr std::uint32_t kModulePathSize = 260;
constexpr const char* kCopySideSuffix = ".new";

bool readWholeFile(const std::string& path, std::string& bytes) {
  platform::File file = platform::File::open(path.c_str(), platform::File::Access::ReadExisting);
  if (!file.isOpen()) return false;
  bytes.clear();
  char chunk[64 * 1024];
  for (;;) {
    std::uint32_t got = 0;
    if (!file.read(chunk, sizeof chunk, &got)) return false;
    if (got == 0) return true;
    bytes.append(chunk, got);
  }
}

}  // namespace

bool copyFile(const std::string& source, const std::string& destination) {
  platform::File in = platform::File::open(source.c_str(), platform::File::Access::ReadExisting);
  if (!in.isOpen()) return false;
  const std::string side = destination + kCopySideSuffix;
  platform::File out = platform::File::open(side.c_str(), platform::File::Access::CreateAlways);
  if (!out.isOpen()) return false;

  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kCopyBufferSize]);
  bool copied = buffer != nullptr;
  while (copied) {
    std::uint32_t got = 0;
    if (!in.read(buffer.get(), kCopyBufferSize, &got)) copied = false;
    if (!copied || got == 0) break;
    copied = out.write(buffer.get(), got);
  }
  copied = copied && out.flush();
  copied = out.close() && copied;
  // Only a complete copy replaces the launcher; anything less leaves the old
  // one in place, still able to start and to try again.
  if (!copied || !platform::replaceFile(side.c_str(), destination.c_str())) {
    platform::deleteFile(side.c_str());
    return false;
  }
  return true;
}

std::string modulePath() {
  std::vector<char> buffer(kModulePathSize);
  std::uint32_t length = platform::moduleFileName(buffer.data(), kModulePathSize);
  if (length >= kModulePathSize) {
    // The path did not fit: ask once more with room for the longest path.
    buffer.assign(32768, '\0');
    length = platform::moduleFileName(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
    if (length >= buffer.size()) return {};
  }
  return std::string(buffer.data(), length);
}

bool sameFileContents(const std::string& first, const std::string& second) {
  std::string a;
  std::string b;
  return readWholeFile(first, a) && readWholeFile(second, b) && a == b;
}

void forgetLauncherVersion(const std::string& installPath) {
  const std::string listPath = installPath + "\\" + kVersionListName;
  std::string bytes;
  if (!readWholeFile(listPath, bytes)) return;
  VersionList listed;
  parseVersionList(bytes.data(), bytes.data() + bytes.size(), listed);
  VersionList kept;
  for (const VersionEntry& entry : listed) {
    if (entry.name != kLauncherEntryName) kept.append(entry);
  }
  if (kept.size() != listed.size()) saveLocalList(listPath.c_str(), kept);
}
