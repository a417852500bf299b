// Comparing a version list already written with what the release folder
// holds now.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "update/version_list.h"

namespace publish {

// One line per difference, in name order: "missing: NAME" (listed, not in the
// folder), "unlisted: NAME" (in the folder, not listed), "changed: NAME"
// (listed with another version or size), plus "listed twice: NAME" and
// "malformed line N" for a list the launcher would read differently than
// intended. Empty when the list describes the folder exactly.
std::vector<std::string> compareList(std::string_view listText, const update::VersionList& current);

}  // namespace publish
