#include "release_scan.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>

#include "release_names.h"
#include "update/list_signature.h"
#include "update/version_list.h"

using update::kSignatureName;
using update::kVersionListName;

namespace publish {

namespace fs = std::filesystem;

namespace {

// The launcher's client takes a body of at most this many bytes: its length
// header is read as a signed 32-bit number.
constexpr std::uintmax_t kMaxFetchableSize = std::numeric_limits<std::int32_t>::max();

std::string refusal(std::string_view diskName, std::string_view reason) {
  return "cannot publish \"" + printableName(diskName) + "\": " + std::string(reason);
}

std::string leftOut(std::string_view diskName, std::string_view reason) {
  return "leaving out \"" + printableName(diskName) + "\": " + std::string(reason);
}

bool isInside(const fs::path& path, const fs::path& base) {
  fs::path relative = path.lexically_relative(base);
  return !relative.empty() && *relative.begin() != ".." && relative != ".";
}

class Scanner {
 public:
  Scanner(fs::path base, OutsideLinks outside) : base_(std::move(base)), outside_(outside) {}

  void add(const fs::directory_entry& entry, ReleaseScan& scan) {
    std::error_code error;
    const std::string disk = entry.path().lexically_relative(base_).generic_string();
    fs::file_status status = entry.symlink_status(error);
    if (error) {
      scan.problems.push_back(refusal(disk, error.message()));
      return;
    }
    if (fs::is_directory(status)) return;
    // The list and the signature this tool writes.
    if (disk == kVersionListName || disk == kSignatureName) return;

    fs::path source = entry.path();
    bool outside = false;
    if (fs::is_symlink(status)) {
      source = fs::canonical(entry.path(), error);
      if (error) {
        if (outside_ == OutsideLinks::Skip) {
          scan.warnings.push_back(leftOut(disk, "the symbolic link leads nowhere"));
        } else {
          scan.problems.push_back(refusal(disk, "the symbolic link leads nowhere"));
        }
        return;
      }
      if (!isInside(source, base_) && outside_ != OutsideLinks::Follow) {
        if (outside_ == OutsideLinks::Skip) {
          scan.warnings.push_back(leftOut(disk, "the symbolic link leads out of the release folder"));
        } else {
          scan.problems.push_back(refusal(disk,
                                          "the symbolic link leads out of the release folder (--follow-links "
                                          "publishes what it points to, --skip-links leaves it out)"));
        }
        return;
      }
      outside = !isInside(source, base_);
      status = fs::status(source, error);
      if (fs::is_directory(status)) {
        scan.problems.push_back(refusal(disk, "the symbolic link leads to a folder; only links to files are followed"));
        return;
      }
    }
    if (!fs::is_regular_file(status)) {
      scan.problems.push_back(refusal(disk, "it is not a regular file"));
      return;
    }
    std::uintmax_t size = fs::file_size(source, error);
    if (!error && size > kMaxFetchableSize) {
      scan.problems.push_back(refusal(disk, "it is 2 GiB or larger, more than the launcher can fetch"));
      return;
    }
    addNamed(disk, std::move(source), outside, scan);
  }

 private:
  void addNamed(const std::string& disk, fs::path source, bool outside, ReleaseScan& scan) {
    // The launcher's own rule, with its reasons: what it would refuse is
    // refused here, before anything is published.
    ListedName listed = listedName(disk);
    if (!listed.fault.empty()) {
      scan.problems.push_back(refusal(disk, listed.fault));
      return;
    }
    auto [first, added] = byFoldedName_.try_emplace(listed.foldedName, disk);
    if (!added) {
      scan.problems.push_back(
          refusal(disk, "on Windows it is the same file as \"" + printableName(first->second) + "\""));
      return;
    }
    std::string longPath = longPathWarning(listed.installedName);
    if (!longPath.empty()) scan.warnings.push_back(quotedName(disk).append(": ").append(longPath));
    scan.files.push_back({std::move(source), disk, std::move(listed.servedName), std::move(listed.entryName), outside});
  }

  fs::path base_;
  OutsideLinks outside_;
  std::map<std::string, std::string> byFoldedName_;  // folded local name -> the first disk name
};

}  // namespace

ReleaseScan scanRelease(const fs::path& root, OutsideLinks outside) {
  ReleaseScan scan;
  std::error_code error;
  const fs::path base = fs::canonical(root, error);
  fs::recursive_directory_iterator walk;
  if (!error) walk = fs::recursive_directory_iterator(base, fs::directory_options::none, error);
  if (error) {
    scan.problems.push_back("cannot read the release folder \"" + printableName(root.string()) +
                            "\": " + error.message());
    scan.unreadable = true;
    return scan;
  }
  // Walked in a fixed order so that messages come out the same each run.
  std::vector<fs::directory_entry> entries;
  while (walk != fs::recursive_directory_iterator()) {
    entries.push_back(*walk);
    walk.increment(error);
    if (error) break;
  }
  if (error) {
    scan.problems.push_back("cannot read a folder below \"" + printableName(root.string()) + "\": " + error.message());
    scan.unreadable = true;
    return scan;
  }
  std::sort(entries.begin(), entries.end());
  Scanner scanner(base, outside);
  for (const fs::directory_entry& entry : entries) scanner.add(entry, scan);
  std::sort(scan.files.begin(), scan.files.end(),
            [](const ReleaseFile& a, const ReleaseFile& b) { return a.entryName < b.entryName; });
  return scan;
}

}  // namespace publish
