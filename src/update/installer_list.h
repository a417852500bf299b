// The local list the game's installer leaves in a folder it fills: entries
// only for files that are on disk as listed, so that the launcher fetches
// whatever the installer did not place in full, and the uninstaller still
// knows the files the launcher fetched before.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "update/version_list.h"

namespace update {

// The size of the installation's file of a decoded entry name, or nothing
// when there is no such file (or it cannot be opened).
using InstalledFileSize = std::function<std::optional<std::uint64_t>(const std::string& decodedName)>;

// The list to write, in this order:
// - every entry of `carried` (the release's list the installer carries)
//   whose file is on disk with the listed size: a file not placed, or not
//   in full, gets no entry, and the launcher fetches it;
// - when `previousTrusted`, every entry of `previous` (the list found in the
//   folder) whose file the installer does not carry -- its name, folded as
//   Windows compares names, is none of `placedNames` (the decoded names of
//   every file the installer places, listed or not) nor of `carried` -- and
//   that is on disk with the listed size: the files the launcher fetched.
// Entries whose decoded name the launcher would not install are left out,
// and so is each later entry of a file already taken (letter case ignored,
// "/" and "\" alike), so that no file has two entries that disagree.
VersionList installerList(const VersionList& carried, const std::vector<std::string>& placedNames,
                          const VersionList& previous, bool previousTrusted, const InstalledFileSize& sizeOf);

}  // namespace update
