#include "update/installer_list.h"

#include <limits>
#include <unordered_set>

#include "update/entry_names.h"
#include "update/release_record.h"

namespace update {

namespace {

// One file, one key: Windows' letter case and either separator.
std::string fileKey(std::string_view decodedName) {
  std::string key = foldedEntryName(decodedName);
  for (char& c : key) {
    if (c == '\\') c = '/';
  }
  return key;
}

}  // namespace

VersionList installerList(const VersionList& carried, const std::vector<std::string>& placedNames,
                          const VersionList& previous, bool previousTrusted, const InstalledFileSize& sizeOf) {
  std::unordered_set<std::string> replaced;
  for (const std::string& name : placedNames) replaced.insert(fileKey(name));
  for (VersionEntryRef entry : carried) replaced.insert(fileKey(decodeEntryName(entry.name)));

  VersionList written;
  std::unordered_set<std::string> taken;
  const auto take = [&](VersionEntryRef entry) {
    const std::string decoded = decodeEntryName(entry.name);
    if (!isInstallableEntryName(decoded) || !taken.insert(fileKey(decoded)).second) return;
    const std::optional<std::uint64_t> size = sizeOf(decoded);
    if (size && *size == entry.size) written.append(entry.name, entry.version, entry.size);
  };
  for (VersionEntryRef entry : carried) take(entry);
  if (previousTrusted) {
    for (VersionEntryRef entry : previous) {
      if (!replaced.contains(fileKey(decodeEntryName(entry.name)))) take(entry);
    }
  }
  return written;
}

CarriedRelease recordCarriedRelease(const UpdateTrust& trust, std::string_view list, std::string_view signatureFile) {
  if (trust.keys.empty()) return CarriedRelease::Unsigned;
  const ReleaseMark installed = readInstalledRelease(kReleaseRecordName);
  ReleaseMark carried;
  // Judged against no record: an installation newer than the installer
  // keeps its own record, and the launcher refuses what is older than it.
  // The earliest time there is: no expiry has passed at it.
  constexpr std::int64_t kNoExpiryPassed = std::numeric_limits<std::int64_t>::min();
  if (verifyListSignature(trust, list, signatureFile, {}, kNoExpiryPassed, &carried) != 0) {
    return CarriedRelease::NotVerified;
  }
  if (!isLater(carried, installed)) return CarriedRelease::AlreadyLater;
  return recordInstalledRelease(kReleaseRecordName, carried) ? CarriedRelease::Recorded : CarriedRelease::NotWritten;
}

}  // namespace update
