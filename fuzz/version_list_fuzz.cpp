// The version-list parser on any bytes a server may send. Every entry it
// yields must be one the launcher can store and read back unchanged.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "check.h"
#include "update/version_list.h"

using update::afterByteOrderMark;
using update::kMaxEntryName;
using update::kMaxEntryVersion;
using update::parseVersionList;
using update::readVersionListFile;
using update::saveLocalList;
using update::VersionEntry;
using update::VersionList;

namespace {

// The white space of the C library's number and text reading.
bool isWhite(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

void checkField(const std::string& field, std::size_t longest) {
  FUZZ_CHECK(!field.empty() && field.size() <= longest);
  FUZZ_CHECK(std::none_of(field.begin(), field.end(), [](char c) { return isWhite(c) || c == '\0'; }));
}

// A scratch folder of this process for the round trip through a real file;
// in memory-backed storage where there is some, since every save syncs.
class ScratchFolder {
 public:
  ScratchFolder() {
    const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    folder_ = std::string(base) + "/glimmerhold-fuzz-XXXXXX";
    if (::mkdtemp(folder_.data()) == nullptr) std::abort();
    list_ = folder_ + "/version_list.txt";
  }
  ~ScratchFolder() {
    ::unlink(list_.c_str());
    ::rmdir(folder_.c_str());
  }
  const char* list() const { return list_.c_str(); }

 private:
  std::string folder_;
  std::string list_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ScratchFolder scratch;
  const char* begin = reinterpret_cast<const char*>(data);
  VersionList list;
  parseVersionList(begin, begin + size, list);

  // At most one entry per line.
  FUZZ_CHECK(list.size() <=
             static_cast<std::size_t>(std::count(begin, begin + size, '\n') + std::count(begin, begin + size, '\r')) +
                 1);
  // "\r\n" and a lone "\r" end a line as "\n" does: the same list with "\n"
  // alone gives the same entries.
  std::string unixText(begin, size);
  for (std::size_t at = unixText.find('\r'); at != std::string::npos; at = unixText.find('\r', at)) {
    if (at + 1 < unixText.size() && unixText[at + 1] == '\n') {
      unixText.erase(at, 1);
    } else {
      unixText[at] = '\n';
    }
  }
  VersionList unixList;
  parseVersionList(unixText.data(), unixText.data() + unixText.size(), unixList);
  FUZZ_CHECK(unixList.size() == list.size());
  for (std::size_t i = 0; i < list.size(); ++i) {
    FUZZ_CHECK(unixList[i].name == list[i].name && unixList[i].version == list[i].version &&
               unixList[i].size == list[i].size);
  }
  for (std::size_t i = 0; i < list.size(); ++i) {
    const VersionEntry& entry = list[i];
    checkField(entry.name, kMaxEntryName);
    checkField(entry.version, kMaxEntryVersion);
    // Lookups give the first entry of a name.
    std::size_t first = 0;
    while (list[first].name != entry.name) ++first;
    FUZZ_CHECK(list.indexOf(entry.name) == first);
  }

  // A byte-order mark before the list is no part of its first name.
  const std::string marked = "\xef\xbb\xbf" + std::string(begin, size);
  VersionList markedList;
  parseVersionList(afterByteOrderMark(marked.data(), marked.data() + marked.size()), marked.data() + marked.size(),
                   markedList);
  FUZZ_CHECK(markedList.size() == list.size());
  for (std::size_t i = 0; i < list.size(); ++i) FUZZ_CHECK(markedList[i].name == list[i].name);

  // What the launcher saves it reads back the same.
  FUZZ_CHECK(saveLocalList(scratch.list(), list));
  VersionList back;
  FUZZ_CHECK(readVersionListFile(scratch.list(), back));
  FUZZ_CHECK(back.size() == list.size());
  for (std::size_t i = 0; i < list.size(); ++i) {
    FUZZ_CHECK(back[i].name == list[i].name);
    FUZZ_CHECK(back[i].version == list[i].version);
    FUZZ_CHECK(back[i].size == list[i].size);
  }
  return 0;
}
