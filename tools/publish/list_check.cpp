#include "list_check.h"

#include <map>

using update::parseVersionList;
using update::VersionEntry;
using update::VersionList;

namespace publish {

namespace {

std::string describeChange(const VersionEntry& listed, const VersionEntry& now) {
  std::string text = "changed: " + now.name + " (";
  if (listed.version != now.version) text += "version " + listed.version + " -> " + now.version;
  if (listed.size != now.size) {
    if (listed.version != now.version) text += ", ";
    text += "size " + std::to_string(listed.size) + " -> " + std::to_string(now.size);
  }
  return text + ")";
}

}  // namespace

std::vector<std::string> compareList(std::string_view listText, const VersionList& current) {
  std::vector<std::string> differences;
  std::map<std::string, VersionEntry> listed;
  std::size_t lineNumber = 0;
  while (!listText.empty()) {
    ++lineNumber;
    std::size_t end = listText.find('\n');
    std::string_view line = listText.substr(0, end);
    listText.remove_prefix(end == std::string_view::npos ? listText.size() : end + 1);
    // One line at a time, so that a line the reader drops is noticed.
    VersionList one;
    parseVersionList(line.data(), line.data() + line.size(), one);
    if (one.empty()) {
      differences.push_back("malformed line " + std::to_string(lineNumber));
      continue;
    }
    VersionEntry entry = one[0];
    if (!listed.try_emplace(entry.name, entry).second) differences.push_back("listed twice: " + entry.name);
  }

  std::map<std::string, VersionEntry> present;
  for (const VersionEntry entry : current) present.emplace(entry.name, entry);
  auto nextListed = listed.begin();
  auto nextPresent = present.begin();
  while (nextListed != listed.end() || nextPresent != present.end()) {
    if (nextPresent == present.end() || (nextListed != listed.end() && nextListed->first < nextPresent->first)) {
      differences.push_back("missing: " + nextListed->first);
      ++nextListed;
    } else if (nextListed == listed.end() || nextPresent->first < nextListed->first) {
      differences.push_back("unlisted: " + nextPresent->first);
      ++nextPresent;
    } else {
      const VersionEntry& was = nextListed->second;
      const VersionEntry& now = nextPresent->second;
      if (was.version != now.version || was.size != now.size) differences.push_back(describeChange(was, now));
      ++nextListed;
      ++nextPresent;
    }
  }
  return differences;
}

}  // namespace publish
