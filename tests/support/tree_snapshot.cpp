#include "support/tree_snapshot.h"

#include "support/temp_dir.h"

namespace testsupport {

TreeSnapshot snapshotTree(const std::filesystem::path& root) {
  TreeSnapshot tree;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    std::string relative = std::filesystem::relative(entry.path(), root).string();
    if (entry.is_directory()) {
      tree[relative] = std::nullopt;
    } else {
      tree[relative] = readFile(entry.path());
    }
  }
  return tree;
}

std::string describeDifferences(const TreeSnapshot& expected, const TreeSnapshot& actual) {
  std::string text;
  for (const auto& [path, bytes] : actual) {
    auto was = expected.find(path);
    if (was == expected.end()) {
      text += "+ " + path + "\n";
    } else if (was->second != bytes) {
      text += "~ " + path + "\n";
    }
  }
  for (const auto& [path, bytes] : expected) {
    if (actual.find(path) == actual.end()) text += "- " + path + "\n";
  }
  return text;
}

}  // namespace testsupport
