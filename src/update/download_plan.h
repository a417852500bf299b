// The download plan: which files of the server's list to fetch, launcher
// first, with their folders prepared and their sizes summed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "update/version_list.h"

constexpr const char* kLauncherEntryName = "Launcher.exe";

// Fills `downloadList` (copies of the server's entries to fetch, in fetch
// order) and `totalKiB` (the sum of their sizes / 1024) from the two lists.
void planDownloads(const VersionList& remoteList, const VersionList& localList,
                   std::vector<VersionEntry>& downloadList, std::uint32_t& totalKiB);

// Makes every missing folder along a path that ends with "/". False when
// making one failed.
bool makeDirectories(const std::string& path);
