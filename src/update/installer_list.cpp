#include "update/installer_list.h"

#include <unordered_set>

#include "update/entry_names.h"

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

}  // namespace update
