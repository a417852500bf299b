#include "update/download_plan.h"

#include <algorithm>
#include <cerrno>
#include <functional>
#include <limits>
#include <string_view>

#include "platform/files.h"
#include "update/entry_names.h"

namespace update {

namespace {

void addKiB(std::uint32_t& total, std::uint32_t size) {
  // Only a progress figure, but a wrapped one would run backwards.
  std::uint32_t kib = size / 1024;
  total =
      kib > std::numeric_limits<std::uint32_t>::max() - total ? std::numeric_limits<std::uint32_t>::max() : total + kib;
}

std::size_t launcherEntry(const VersionList& remoteList) {
  const std::string_view launcher = kLauncherEntryName;
  std::size_t at = 0;
  for (const VersionEntryRef remote : remoteList) {
    if (remote.name == launcher) return at;
    ++at;
  }
  return VersionList::npos;
}

// Up to date: the local entry records the listed version at the listed
// size, and the file on disk has that size. A file that exists but cannot be
// reached for another reason counts as present and whole: only "no such
// file" makes it missing. A size that differs anywhere (a file recorded by
// an older launcher that took any answer, a file cut short or replaced
// behind the launcher's back) is fetched again.
bool isInstalledAsListed(const VersionEntryRef& local, const VersionEntryRef& remote, const std::string& fileName) {
  if (local.version != remote.version || local.size != remote.size) return false;
  std::uint64_t onDisk = 0;
  const int error = platform::fileSizeCheck(fileName.c_str(), &onDisk);
  if (error == ENOENT) return false;
  return error != 0 || onDisk == remote.size;
}

std::size_t cellsFor(std::size_t entries) {
  std::size_t cells = 16;
  while (cells < entries * 2) cells *= 2;
  return cells;
}

}  // namespace

PlanBuilder::PlanBuilder(const VersionList& remoteList, const VersionList& localList, LocalFileIndex& localIndex,
                         VersionList& downloadList, std::uint32_t& totalKiB, SkippedEntries* skipped)
    : remoteList_(remoteList),
      localList_(localList),
      localIndex_(localIndex),
      downloadList_(downloadList),
      totalKiB_(totalKiB),
      skipped_(skipped),
      launcherAt_(launcherEntry(remoteList)),
      seenFiles_(cellsFor(remoteList.size())) {
  downloadList.clear();
  totalKiB = 0;
  // Room for every entry at once (address space; pages are touched only as
  // they fill), so that no step copies what the earlier ones planned.
  downloadList_.reserve(remoteList_.size(), remoteList_.textSize());
}

bool PlanBuilder::firstOfItsFile(std::size_t at, std::string_view folded) {
  const std::size_t hash = std::hash<std::string_view>{}(folded);
  const std::size_t mask = seenFiles_.size() - 1;
  for (std::size_t cell = hash & mask;; cell = (cell + 1) & mask) {
    SeenFile& seen = seenFiles_[cell];
    if (seen.entry == 0) {
      seen = {hash, at + 1};
      return true;
    }
    if (seen.hash == hash && foldedEntryName(decodeEntryName(remoteList_[seen.entry - 1].name)) == folded) {
      return false;
    }
  }
}

bool PlanBuilder::step(std::size_t entries) {
  if (!localIndexed_) {
    localIndexed_ = localIndex_.indexStep(localList_, entries);
    return false;
  }
  // The launcher goes first: when it is replaced, the new one finishes the
  // update, so nothing else should be fetched before it.
  if (!launcherDone_) {
    launcherDone_ = true;
    if (launcherAt_ != VersionList::npos) consider(launcherAt_);
  }
  for (std::size_t done = 0; done < entries && next_ < remoteList_.size(); ++next_) {
    if (next_ == launcherAt_) continue;
    consider(next_);
    ++done;
  }
  return next_ >= remoteList_.size();
}

void PlanBuilder::consider(std::size_t at) {
  const VersionEntryRef remote = remoteList_[at];
  const std::string fileName = decodeEntryName(remote.name);
  // A name the launcher may not install is not fetched, but kept with its
  // reason; a file already planned is planned once, from its first entry,
  // as the local list's lookup reads a list.
  if (NameRefusal refusal = entryNameRefusal(fileName); refusal != NameRefusal::None) {
    if (skipped_ != nullptr) skipped_->add(remote.name, refusal);
    return;
  }
  if (!firstOfItsFile(at, foldedEntryName(fileName))) return;

  const std::size_t local = localIndex_.find(localList_, remote.name);
  if (local != LocalFileIndex::npos && isInstalledAsListed(localList_[local], remote, fileName)) return;

  downloadList_.append(remote.name, remote.version, remote.size);
  addKiB(totalKiB_, remote.size);
}

void planDownloads(const VersionList& remoteList, const VersionList& localList, VersionList& downloadList,
                   std::uint32_t& totalKiB, SkippedEntries* skipped, NameCase nameCase) {
  LocalFileIndex localIndex(nameCase, localList.size());
  PlanBuilder builder(remoteList, localList, localIndex, downloadList, totalKiB, skipped);
  while (!builder.step(remoteList.size() + 1)) {
  }
}

void SkippedEntries::add(std::string_view name, NameRefusal reason) {
  ++count;
  if (kept.size() < kMaxKept) kept.push_back({std::string(name), reason});
}

bool makeDirectories(const std::string& path, std::size_t from) {
  const std::size_t last = path.rfind('/');
  if (last != std::string::npos && !isInstallableEntryName(std::string_view(path).substr(0, last))) return false;
  for (std::size_t slash = path.find('/', from); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (platform::accessCheck(prefix.c_str()) != 0 && !platform::createDirectory(prefix.c_str())) return false;
  }
  return true;
}

}  // namespace update
