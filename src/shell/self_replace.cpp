#include "shell/self_replace.h"

#include <cstring>
#include <memory>
#include <vector>

#include "platform/files.h"
#include "update/download_plan.h"
#include "update/list_journal.h"
#include "update/local_file_index.h"
#include "update/version_list.h"

namespace shell {

using update::kLauncherEntryName;
using update::kVersionListName;
using update::readVersionListFile;
using update::saveLocalList;
using update::VersionEntryRef;
using update::VersionList;

namespace {

constexpr std::uint32_t kCopyBufferSize = 4 * 1024 * 1024;
constexpr std::uint32_t kModulePathSize = 260;
constexpr const char* kCopySideSuffix = ".new";

}  // namespace

bool copyFile(const std::string& source, const std::string& destination) {
  platform::File in = platform::File::open(source.c_str(), platform::File::Access::ReadExisting);
  if (!in.isOpen()) return false;
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kCopyBufferSize]);
  if (buffer == nullptr) return false;
  // Only a complete copy replaces the launcher; anything less leaves the old
  // one in place, still able to start and to try again.
  return platform::replaceFileAtomically(destination.c_str(), kCopySideSuffix, [&](platform::File& out) {
    while (true) {
      std::uint32_t got = 0;
      if (!in.read(buffer.get(), kCopyBufferSize, &got)) return false;
      if (got == 0) return true;
      if (!out.write(buffer.get(), got)) return false;
    }
  });
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
  platform::File a = platform::File::open(first.c_str(), platform::File::Access::ReadExisting);
  platform::File b = platform::File::open(second.c_str(), platform::File::Access::ReadExisting);
  std::uint64_t sizeA = 0;
  std::uint64_t sizeB = 0;
  if (!a.isOpen() || !b.isOpen() || !a.size(&sizeA) || !b.size(&sizeB) || sizeA != sizeB) return false;
  // Chunk by chunk, so that the memory used is the same whatever the files'
  // sizes.
  constexpr std::uint32_t kChunk = 64 * 1024;
  std::unique_ptr<char[]> chunkA(new (std::nothrow) char[kChunk]);
  std::unique_ptr<char[]> chunkB(new (std::nothrow) char[kChunk]);
  if (chunkA == nullptr || chunkB == nullptr) return false;
  for (;;) {
    std::uint32_t gotA = 0;
    if (!a.read(chunkA.get(), kChunk, &gotA)) return false;
    // The second file is read to the same length, however its reads split.
    std::uint32_t gotB = 0;
    while (gotB < gotA) {
      std::uint32_t got = 0;
      if (!b.read(chunkB.get() + gotB, gotA - gotB, &got) || got == 0) return false;
      gotB += got;
    }
    if (gotA == 0) {
      std::uint32_t extra = 0;
      return b.read(chunkB.get(), 1, &extra) && extra == 0;
    }
    if (std::memcmp(chunkA.get(), chunkB.get(), gotA) != 0) return false;
  }
}

void forgetLauncherVersion(const std::string& installPath) {
  const std::string listPath = installPath + "\\" + kVersionListName;
  const std::string journalPath = installPath + "\\" + update::kListJournalName;
  // No list yet (a first run killed before its journal was folded): the
  // journal alone names the launcher, and is what the next start folds.
  VersionList listed;
  static_cast<void>(readVersionListFile(listPath.c_str(), listed));
  // The run that fetched the new launcher recorded it in the list's journal.
  update::applyJournal(listed, update::readListJournal(journalPath.c_str()).entries, update::installationNameCase());
  VersionList kept;
  for (const VersionEntryRef entry : listed) {
    if (entry.name != kLauncherEntryName) kept.append(entry.name, entry.version, entry.size);
  }
  if (kept.size() == listed.size()) return;
  // The journal goes first, and the list is rewritten without the launcher
  // but with the journal's other records: a kill between the two costs those
  // files a second fetch, never a launcher recorded that is not installed.
  // Nothing more can be done here when either fails: the launcher's version
  // stays recorded, as before this start.
  platform::deleteFile(journalPath.c_str());
  if (platform::accessCheck(journalPath.c_str()) != 0) static_cast<void>(saveLocalList(listPath.c_str(), kept));
}

}  // namespace shell
