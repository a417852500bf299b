// Every file and folder below a root, with the files' bytes: taken before and
// after a run, the two show everything the run wrote, wherever it wrote it.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace testsupport {

// Relative path -> bytes; folders map to nullopt.
using TreeSnapshot = std::map<std::string, std::optional<std::string>>;

TreeSnapshot snapshotTree(const std::filesystem::path& root);

// A readable account of the differences ("+ added", "- removed", "~ changed"),
// empty when the two are equal.
std::string describeDifferences(const TreeSnapshot& expected, const TreeSnapshot& actual);

}  // namespace testsupport
