// Releases published each into a folder of their own under the served root,
// "releases/<N>/", so that no file's bytes ever change under a URL and a
// cache may keep every file of a release for ever. The current release is
// named by the release pointer, "release.js" at the root, a script the
// launcher page loads:
//
//   var glimmerholdRelease = "releases/7/";
//
// Only the pointer (and the page) change from one release to the next.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace publish {

constexpr const char* kReleasesFolder = "releases";
constexpr const char* kReleasePointerName = "release.js";

struct ReleaseFolders {
  std::filesystem::path root;
  std::uint64_t current = 0;  // the release the pointer names; 0: no pointer yet
  std::uint64_t highest = 0;  // the highest number a folder under releases/ has, complete or not

  std::filesystem::path folder(std::uint64_t number) const { return root / kReleasesFolder / std::to_string(number); }
  // What served the release before: the current release's folder, or the
  // root itself before the first release folder (a folder laid out in
  // place, moved over to release folders).
  std::filesystem::path currentFolder() const { return current != 0 ? folder(current) : root; }
  // Never a number used before, so a cache holds nothing under its URLs;
  // a folder left by a run that ended before it moved the pointer counts.
  std::uint64_t next() const { return (highest > current ? highest : current) + 1; }
};

// The pointer's text for release `number`.
std::string releasePointerText(std::uint64_t number);

// Makes `root`/releases and takes its lock, held while `lock` stays open:
// two publishes into the same root run one after the other, never both
// taking the same number. False, with the reason, when another holds it.
bool lockReleaseFolders(const std::filesystem::path& root, int& lock, std::string& error);

// Removes what runs that ended before their folder was complete left under
// releases/ (hidden side folders); only with the lock held.
void removeUnfinished(const std::filesystem::path& root);

// Reads the pointer and the numbers under `root`. False, with the reason,
// when the pointer is not one this tool wrote (nothing is then replaced).
bool readReleaseFolders(const std::filesystem::path& root, ReleaseFolders& folders, std::string& error);

// Makes the release folder's files durable, then points the pointer at it,
// replaced in one rename: a client sees the old release or the new one,
// complete, and so does the pointer after a crash.
bool pointAtRelease(const ReleaseFolders& folders, std::uint64_t number, std::string& error);

}  // namespace publish
