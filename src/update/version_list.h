// Version lists: the server's "version_list.txt" and the local one in the
// installation folder share one format, a line per file:
//   name version size
// where the name is the file's path below the installation folder with "/"
// between folders and a few characters escaped (see decodeEntryName).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

constexpr std::size_t kMaxEntryName = 255;
constexpr std::size_t kMaxEntryVersion = 32;
constexpr const char* kVersionListName = "version_list.txt";
// saveLocalList writes the new list beside the old one under the list's name
// plus this suffix ("version_list.txt.tmp"), then renames it over the list.
constexpr const char* kVersionListSideSuffix = ".tmp";

struct VersionEntry {
  std::string name;     // escaped, as the server's list spells it
  std::string version;  // opaque token, compared for equality only
  std::uint32_t size = 0;
};

// A version list in file order. Names need not be unique: find() gives the
// first entry of a name, through an index rather than a scan.
class VersionList {
 public:
  using const_iterator = std::vector<VersionEntry>::const_iterator;

  void append(VersionEntry entry);
  void clear();
  // The entry may be changed through the result, but not its name: the index
  // is keyed by it.
  VersionEntry* find(std::string_view name);
  const VersionEntry* find(std::string_view name) const;

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const VersionEntry& operator[](std::size_t i) const { return entries_[i]; }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
  };
  std::vector<VersionEntry> entries_;
  std::unordered_map<std::string, std::size_t, Hash, std::equal_to<>> firstByName_;
};

// Appends one entry per well-formed line of [begin, end) to `list`. Never
// reads outside the range. A line is "name version size", fields separated by
// white space (blanks, tabs, vertical tabs, form feeds), ended by "\n" or
// "\r\n" (the last one may lack it); the size may carry a "k" that means
// nothing. A line yields no entry when it lacks a field, holds a name over
// 255 bytes or a version over 32, holds a NUL byte, or its size is not a
// number that fits 32 bits ("-N" for N up to 2^31 reads as 2^32 - N, which
// is how sizes of 2 GiB and more are written).
void parseVersionList(const char* begin, const char* end, VersionList& list);

// Appends the entries of the named list file to `list`. False, with nothing
// appended, when the file cannot be opened or read to its end.
bool readVersionListFile(const char* fileName, VersionList& list);

// Reads the installation folder, makes it the current folder and loads its
// "version_list.txt" into `list` (empty when there is none).
void loadLocalList(std::string& installPath, VersionList& list);

// Rewrites the named list file from `list`, atomically: a crash leaves either
// the old file or the new one, never a truncated one. Each entry is written as
// "%s %s %d\n" would write it. False, with the old file left as it was and no
// side file left behind, when the new one cannot be written in full.
bool saveLocalList(const char* fileName, const VersionList& list);

// The side file saveLocalList writes before renaming it over `fileName`.
std::string versionListSideName(const char* fileName);

// One list line exactly as saveLocalList writes it: "%s %s %d\n".
std::string formatVersionEntry(const VersionEntry& entry);

// The first entry named `name`, byte for byte, or null.
VersionEntry* findLocalEntry(VersionList& list, std::string_view name);

// The local file name of an entry name: "%20", "%21", "%f1", "%e1", "%e9",
// "%ed", "%f3" and "%fa" become the one byte they stand for.
std::string decodeEntryName(std::string_view name);

// Why a local file name cannot be written into a list.
enum class EntryNameFault {
  None,
  Empty,
  TooLong,             // over 255 bytes once escaped
  WhiteSpace,          // white space other than the blank, which has an escape
  PercentSign,         // a "%" would read as the start of an escape
  ControlByte,         // a byte below 0x20, or 0x7F
  UnescapedByte,       // a byte of 0x80 or more without an escape of its own
  LeavesInstallation,  // see isInstallRelativeName
};

struct EncodedEntryName {
  std::string name;  // the escaped name; empty unless fault is None
  EntryNameFault fault = EntryNameFault::None;
  std::size_t offset = 0;  // of the offending byte in the local name, where one is to blame
};

// The inverse of decodeEntryName: the entry name of a local file name, with
// the eight escapes applied ("%20" for a blank, "%21" for "!", and the six
// Latin-1 letters). A local name the list cannot carry -- one that would not
// decode back to itself, or that the launcher would refuse -- gives a fault.
EncodedEntryName encodeEntryName(std::string_view localName);

// A short English phrase for a fault, for the publishing tool's messages.
std::string_view entryNameFaultText(EntryNameFault fault);

// True when a decoded name stays inside the installation folder: not empty,
// not absolute, no drive letter (no colon at all), no NUL byte, and no ".."
// component between "/" or "\" separators (nor one of only dots and blanks,
// which Windows may read as "..").
bool isInstallRelativeName(std::string_view decodedName);
