#include "update/download_plan.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <optional>
#include <string_view>
#include <unordered_set>

#include "platform/files.h"
#include "update/entry_names.h"

namespace update {

namespace {

struct PlanState {
  const VersionList& localList;
  VersionList& downloadList;
  std::uint32_t& totalKiB;
  SkippedEntries* skipped;
  // Folder paths (up to their last "/") already prepared by this plan: a
  // list of many files in few folders asks the disk about each folder once.
  std::unordered_set<std::string> preparedFolders;
  // Folded names of the files already considered: a later entry for the
  // same file (in any letter case) is not another file to fetch.
  std::unordered_set<std::string> seenFiles;
};

void addKiB(std::uint32_t& total, std::uint32_t size) {
  // Only a progress figure, but a wrapped one would run backwards.
  std::uint32_t kib = size / 1024;
  total =
      kib > std::numeric_limits<std::uint32_t>::max() - total ? std::numeric_limits<std::uint32_t>::max() : total + kib;
}

// Makes the folders along `fileName` that this plan has not prepared yet.
// The disk is asked only below the deepest folder already prepared, and each
// folder once, made or not: a list of many deep, distinct folders then costs
// time in proportion to its size, not to its size times the depth.
void prepareFolders(PlanState& plan, const std::string& fileName) {
  const std::size_t lastSlash = fileName.rfind('/');
  if (lastSlash == std::string::npos) return;
  std::size_t from = 0;
  for (std::size_t slash = lastSlash; slash != std::string::npos;
       slash = slash == 0 ? std::string::npos : fileName.rfind('/', slash - 1)) {
    if (plan.preparedFolders.contains(fileName.substr(0, slash + 1))) {
      from = slash + 1;
      break;
    }
  }
  if (from > lastSlash) return;
  const std::string folder = fileName.substr(0, lastSlash + 1);
  makeDirectories(folder, from);
  for (std::size_t slash = folder.find('/', from); slash != std::string::npos; slash = folder.find('/', slash + 1)) {
    plan.preparedFolders.insert(folder.substr(0, slash + 1));
  }
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

void considerEntry(PlanState& plan, const VersionEntryRef& remote) {
  const std::string fileName = decodeEntryName(remote.name);
  // A name the launcher may not install is neither fetched nor given
  // folders, but kept with its reason; a file already planned is planned
  // once, from its first entry, as the local list's lookup reads a list.
  if (NameRefusal refusal = entryNameRefusal(fileName); refusal != NameRefusal::None) {
    if (plan.skipped != nullptr) plan.skipped->add(remote.name, refusal);
    return;
  }
  if (!plan.seenFiles.insert(foldedEntryName(fileName)).second) return;

  // Folders are prepared for every entry, fetched or not, so that the
  // installation's tree is whole even where the files are up to date. "\"
  // separates folders as "/" does.
  std::string folders = fileName;
  std::replace(folders.begin(), folders.end(), '\\', '/');
  prepareFolders(plan, folders);

  const std::optional<VersionEntryRef> local = plan.localList.find(remote.name);
  if (local && isInstalledAsListed(*local, remote, fileName)) return;

  plan.downloadList.append(remote.name, remote.version, remote.size);
  addKiB(plan.totalKiB, remote.size);
}

}  // namespace

void planDownloads(const VersionList& remoteList, const VersionList& localList, VersionList& downloadList,
                   std::uint32_t& totalKiB, SkippedEntries* skipped) {
  downloadList.clear();
  totalKiB = 0;
  PlanState plan{localList, downloadList, totalKiB, skipped, {}, {}};
  // The launcher goes first: when it is replaced, the new one finishes the
  // update, so nothing else should be fetched before it.
  const std::string_view launcher = kLauncherEntryName;
  for (const VersionEntryRef remote : remoteList) {
    if (remote.name == launcher) {
      considerEntry(plan, remote);
      break;
    }
  }
  for (const VersionEntryRef remote : remoteList) {
    if (remote.name != launcher) considerEntry(plan, remote);
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
