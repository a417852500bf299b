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

#include "update/list_signature.h"
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

// The release record ("version_release.txt", in the current folder) the
// installer leaves for the signed release it carries: the mark of
// `signatureFile` over `list` when it verifies under `trust`, only when later
// than the record found (a record never moves back). Without keys (unsigned
// updates) there is nothing to record. So a fresh installation refuses, from
// its first start, every release older than the one it was installed with.
// The signature's expiry is not held against it: the installer is the
// studio's own package, not an answer from the network, and an installer
// kept for a year must still install (its launcher then updates as usual).
enum class CarriedRelease : std::uint8_t { Unsigned, Recorded, AlreadyLater, NotVerified, NotWritten };
[[nodiscard]] CarriedRelease recordCarriedRelease(const UpdateTrust& trust, std::string_view list,
                                                  std::string_view signatureFile);

}  // namespace update
