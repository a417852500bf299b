// The download plan: which files of the server's list to fetch, launcher
// first, with their folders prepared and their sizes summed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "update/entry_names.h"
#include "update/version_list.h"

namespace update {

constexpr const char* kLauncherEntryName = "Launcher.exe";

// An entry of the server's list that is not installed, and why.
struct SkippedEntry {
  std::string name;  // as listed
  NameRefusal reason;
};

// The entries a plan skipped for their names: every one counted, the first
// kMaxKept kept with the reason (a hostile list of a million refused names
// must not cost the launcher a second copy of it).
struct SkippedEntries {
  static constexpr std::size_t kMaxKept = 1024;
  std::size_t count = 0;
  std::vector<SkippedEntry> kept;  // in list order

  void add(std::string_view name, NameRefusal reason);
  void clear() {
    count = 0;
    kept.clear();
  }
};

// Fills `downloadList` (the server's entries to fetch, in fetch
// order: "Launcher.exe" first, then the rest in list order) and `totalKiB`
// (the sum of their sizes / 1024, held at its maximum rather than wrapped)
// from the two lists; both are reset first. An entry is up to date, and not
// fetched, when the first local entry of its name has the same version and
// the same size, and its file exists with that size. The folders of every entry considered are made. Entries
// whose decoded name the launcher may not install (see
// isInstallableEntryName) are skipped: no fetch, no size, no folder; so are
// entries of a file listed before them (names compared as foldedEntryName
// compares them), so that each file is fetched once, by its first entry.
// Each entry skipped for its name is added to `skipped`, when given, with
// the reason.
void planDownloads(const VersionList& remoteList, const VersionList& localList, VersionList& downloadList,
                   std::uint32_t& totalKiB, SkippedEntries* skipped = nullptr);

// Makes every missing folder along a path that ends with "/". False, with
// nothing made, when the path up to its last "/" is not an installable
// name (see isInstallableEntryName); false when making one failed. Folders
// whose "/" lies before `from` are taken as made already. The plan may go
// on when it fails: the file's own step then fails, and reports it.
bool makeDirectories(const std::string& path, std::size_t from = 0);

}  // namespace update
