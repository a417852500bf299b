#include "update/download_plan.h"

#include <cerrno>
#include <limits>
#include <optional>
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

}  // namespace

PlanBuilder::PlanBuilder(const VersionList& remoteList, const VersionList& localList, VersionList& downloadList,
                         std::uint32_t& totalKiB)
    : remoteList_(remoteList),
      localList_(localList),
      downloadList_(downloadList),
      totalKiB_(totalKiB),
      launcherAt_(launcherEntry(remoteList)) {
  downloadList_.clear();
  totalKiB_ = 0;
}

bool PlanBuilder::step(std::size_t entries) {
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
  // A name the launcher may not install is not fetched, and a file already
  // planned is planned once, from its first entry, as the local list's
  // lookup reads a list.
  if (!isInstallableEntryName(fileName)) return;
  if (!seenFiles_.insert(foldedEntryName(fileName)).second) return;

  const std::optional<VersionEntryRef> local = localList_.find(remote.name);
  // A file that exists but cannot be reached for another reason counts as
  // present: only "no such file" makes it missing.
  bool upToDate = local && local->version == remote.version && platform::accessCheck(fileName.c_str()) != ENOENT;
  if (upToDate) return;

  downloadList_.append(remote.name, remote.version, remote.size);
  addKiB(totalKiB_, remote.size);
}

void planDownloads(const VersionList& remoteList, const VersionList& localList, VersionList& downloadList,
                   std::uint32_t& totalKiB) {
  PlanBuilder builder(remoteList, localList, downloadList, totalKiB);
  while (!builder.step(remoteList.size() + 1)) {
  }
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
