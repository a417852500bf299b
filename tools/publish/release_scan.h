// Walking a release folder: every file below it that goes into the version
// list, with its entry name, in list order, or the reasons why some cannot.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace publish {

struct ReleaseFile {
  std::filesystem::path source;  // the file to read (a link's target, resolved)
  std::string diskName;          // relative path as the folder spells it, "/" between folders
  std::string localName;         // the launcher's file name, and the byte name a web server looks up
  std::string entryName;         // escaped, as the list carries it
  bool outside;                  // reached through a link out of the folder: always copied, never hard-linked
};

struct ReleaseScan {
  std::vector<ReleaseFile> files;     // sorted by entryName, byte for byte
  std::vector<std::string> problems;  // one message per file that cannot be listed
  std::vector<std::string> warnings;  // one message per file left out on purpose or listed with a doubt
  bool unreadable = false;            // a folder could not be walked
};

// What becomes of a symbolic link that leads out of the folder, and of one
// that leads nowhere (real game data links to system fonts, say).
enum class OutsideLinks {
  Refuse,  // both are refused, and with them the release
  Follow,  // a link out to a file is listed with that file's content; one leading nowhere is refused
  Skip,    // both are left out of the list, each with a warning
};

// Lists every regular file below `root`, sub-folders included, except the
// folder's own "version_list.txt". Symbolic links: one to a regular file
// inside the folder is listed under the link's name with the target's
// content; one that leads to a folder (which could loop) is refused; one that
// leads outside the folder or dangles is treated as `outside` says. Other
// kinds of file are refused.
ReleaseScan scanRelease(const std::filesystem::path& root, OutsideLinks outside = OutsideLinks::Refuse);

}  // namespace publish
