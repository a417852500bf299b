// The folder a static web server serves: each listed file under the bytes a
// server looks up for its entry name (the name with its escapes decoded,
// "Espa%f1a.txt" -> "Espa\xf1a.txt"), plus "version_list.txt".
//
// The new tree is built in a hidden side folder beside the target and then
// swapped in with one rename, so a server never serves a half-made tree and
// a failed run leaves the old one as it was.
#pragma once

#include <filesystem>
#include <string>

#include "release_scan.h"

namespace publish {

class ServedTree {
 public:
  // Each file is a copy of the release's (a reflink where the file system
  // has them), so that editing a release file in place later cannot change
  // what is served under the token already published; `hardLink`: a hard
  // link instead where one can be made (no space, but shares that risk).
  // `sharedOnly` (release folders): hard links only to the current release
  // folder's files, which are never edited, never to the release's own.
  ServedTree(std::filesystem::path target, bool hardLink, bool sharedOnly = false);
  // Removes the side folder (and with it a half-made tree) if one is left.
  ~ServedTree();
  ServedTree(const ServedTree&) = delete;
  ServedTree& operator=(const ServedTree&) = delete;

  // Checks the target and makes the side folder. The target may not be the
  // release folder, lie inside it or hold it; an existing target must be a
  // folder that is empty or holds a "version_list.txt" (one this tool made),
  // because the whole of it is replaced.
  bool open(const std::filesystem::path& release, std::string& error);
  // How a file came into the side folder.
  enum class Placement { Reflinked, Copied, HardLinked };
  // Copies (or hard-links) the file into the side folder; `placed` is the
  // new name, which is what gets hashed, so the list describes exactly the
  // bytes served. `from`, when given, is the file to copy instead of the
  // release's (the same bytes, served by an earlier release).
  bool place(const ReleaseFile& file, std::filesystem::path& placed, std::string& error,
             const std::filesystem::path& from = {}, Placement* how = nullptr);
  std::filesystem::path listPath() const { return side_ / "version_list.txt"; }
  // Puts the side folder in the target's place; the old tree is removed.
  bool commit(std::string& error);

 private:
  std::filesystem::path target_;
  std::filesystem::path side_;
  bool hardLink_;
  bool sharedOnly_ = false;
};

}  // namespace publish
