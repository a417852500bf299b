// The download plan: which files of the server's list to fetch, launcher
// first, with their sizes summed. Folders are made when a file's download
// starts (makeDirectories), not by the plan, and the plan can be made in
// steps (PlanBuilder), so that a list of a million deep names never holds
// the window for long.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "update/entry_names.h"
#include "update/local_file_index.h"
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
// fetched, when the first local entry of its file (names compared as
// `nameCase` says, see LocalFileIndex) has the same version and the same
// size, and its file exists with that size. Entries whose decoded name the
// launcher may not install (see entryNameRefusal) are skipped: no fetch, no
// size, and each is added to `skipped`, when given, with the reason; so are
// entries of a file listed before them (names compared as foldedEntryName
// compares them), so that each file is fetched once, by its first entry. No
// folder is made: a file's folders are made when its download starts.
void planDownloads(const VersionList& remoteList, const VersionList& localList, VersionList& downloadList,
                   std::uint32_t& totalKiB, SkippedEntries* skipped = nullptr, NameCase nameCase = NameCase::Exact);

// planDownloads in steps: each step indexes or considers a bounded number
// of entries (first the local list's into `localIndex`, then the server's),
// and the plan is whole once step returns true. The lists and the index
// must stay as they are, and outlive the builder, until then.
class PlanBuilder {
 public:
  PlanBuilder(const VersionList& remoteList, const VersionList& localList, LocalFileIndex& localIndex,
              VersionList& downloadList, std::uint32_t& totalKiB, SkippedEntries* skipped = nullptr);

  // Indexes or considers at most `entries` more entries (at least one);
  // true when every entry has been considered.
  bool step(std::size_t entries);

 private:
  void consider(std::size_t at);
  // True the first time a file (its folded name) is seen.
  bool firstOfItsFile(std::size_t at, std::string_view folded);

  const VersionList& remoteList_;
  const VersionList& localList_;
  LocalFileIndex& localIndex_;
  bool localIndexed_ = false;
  VersionList& downloadList_;
  std::uint32_t& totalKiB_;
  SkippedEntries* skipped_;
  // The launcher's entry, considered first; npos when the list has none.
  std::size_t launcherAt_;
  bool launcherDone_ = false;
  std::size_t next_ = 0;
  // The files already considered, so that a later entry for the same file
  // (in any letter case) is not another file to fetch: an open-addressing
  // table of the folded name's hash and the entry's number + 1, sized once
  // for the whole list, so that no step regrows it and letting it go is one
  // free, whatever the list's length.
  struct SeenFile {
    std::size_t hash;
    std::size_t entry;
  };
  ZeroedCells<SeenFile> seenFiles_;
};

// Makes every missing folder along a path that ends with "/". False, with
// nothing made, when the path up to its last "/" is not an installable
// name (see isInstallableEntryName); false when making one failed. Folders
// whose "/" lies before `from` are taken as made already. The run calls it
// as a file's download starts and may go on when it fails: the download
// then fails, and reports it.
bool makeDirectories(const std::string& path, std::size_t from = 0);

}  // namespace update
