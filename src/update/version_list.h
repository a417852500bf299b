// Version lists: the server's "version_list.txt" and the local one in the
// installation folder share one format, a line per file:
//   name version size
// where the name is the file's path below the installation folder with "/"
// between folders and a few characters escaped (entry_names.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
class File;
}

namespace update {

constexpr std::size_t kMaxEntryName = 255;
constexpr std::size_t kMaxEntryVersion = 32;
constexpr const char* kVersionListName = "version_list.txt";
// saveLocalList writes the new list beside the old one under the list's name
// plus this suffix ("version_list.txt.tmp"), then renames it over the list.
constexpr const char* kVersionListSideSuffix = ".tmp";

// The largest server list the launcher takes: a game of a million files
// with long names fits, and the lists, the plan and the download buffer stay
// within a few hundred MB, far inside a 32-bit process (docs/performance.md).
constexpr std::size_t kMaxListEntries = std::size_t{1} << 20;
constexpr std::size_t kMaxListBytes = std::size_t{128} << 20;

// An entry to add to a list, or a copy taken out of one.
struct VersionEntry {
  std::string name;     // escaped, as the server's list spells it
  std::string version;  // opaque token, compared for equality only
  std::uint32_t size = 0;
};

// An entry as a list holds it: views into the list's own text, valid until
// the list changes. Converts to an owning VersionEntry.
struct VersionEntryRef {
  std::string_view name;
  std::string_view version;
  std::uint32_t size = 0;

  operator VersionEntry() const { return {std::string(name), std::string(version), size}; }
};

// A version list in file order. Names need not be unique: a lookup gives the
// first entry of a name. Compact, for lists of a million entries: the names
// and versions live in one text, each entry is a few numbers into it, and the
// lookup index (entry numbers in an open-addressing table) is built on the
// first lookup, so a list that is only walked never pays for one.
class VersionList {
 public:
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = VersionEntryRef;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = VersionEntryRef;

    const_iterator() = default;
    const_iterator(const VersionList* list, std::size_t at) : list_(list), at_(at) {}
    VersionEntryRef operator*() const { return (*list_)[at_]; }
    const_iterator& operator++() {
      ++at_;
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator before = *this;
      ++at_;
      return before;
    }
    bool operator==(const const_iterator& other) const { return at_ == other.at_; }

   private:
    const VersionList* list_ = nullptr;
    std::size_t at_ = 0;
  };

  // The name is at most 255 bytes and the version at most 32 (longer ones
  // are cut there; the reader never appends such an entry).
  void append(std::string_view name, std::string_view version, std::uint32_t size);
  void append(const VersionEntry& entry) { append(entry.name, entry.version, entry.size); }
  // Room for `entries` more entries with `textBytes` more bytes of names and
  // versions, so that filling a list of known size never regrows it.
  void reserve(std::size_t entries, std::size_t textBytes);
  void clear();

  // The position of the first entry named `name`, or npos.
  std::size_t indexOf(std::string_view name) const;
  // The first entry named `name`, if any.
  std::optional<VersionEntryRef> find(std::string_view name) const;
  // Sets the version and size of the entry at `at`; its name stays.
  void update(std::size_t at, std::string_view version, std::uint32_t size);

  std::size_t size() const { return slots_.size(); }
  // The bytes of names and versions held, for reserve.
  std::size_t textSize() const { return text_.size(); }
  bool empty() const { return slots_.empty(); }
  VersionEntryRef operator[](std::size_t at) const;
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, slots_.size()}; }

 private:
  // The name, then the version right after it, at `text` in text_.
  struct Slot {
    std::size_t text;
    std::uint32_t size;
    std::uint8_t nameLength;
    std::uint8_t versionLength;
  };

  std::string_view nameAt(std::size_t at) const;
  void indexEntry(std::size_t at) const;
  void buildIndex() const;

  std::string text_;
  std::vector<Slot> slots_;
  // Entry number + 1 per cell, 0 for an empty cell; empty until the first
  // lookup, then kept up to date by append and at most half full.
  mutable std::vector<std::uint32_t> index_;
};

// Appends one entry per well-formed line of [begin, end) to `list`. Never
// reads outside the range. A line is "name version size", fields separated by
// white space (blanks, tabs, vertical tabs, form feeds), ended by "\n",
// "\r\n" or a lone "\r" (the last one may lack it). The size is read from the leading
// digits of its field, as the C library's "%u" reads it: what follows them
// ("k", "kB", anything) is ignored; "-N" for N up to 2^31 reads as 2^32 - N,
// which is how sizes of 2 GiB and more are written. A line yields no entry
// when it lacks a field, holds a name over 255 bytes or a version over 32,
// holds a NUL byte, or its size field does not start with a number that fits
// 32 bits. False, with only the first `maxEntries` entries appended, when the
// text holds more entries than that; a caller that passes a text it knows
// to be within bounds may ignore the result.
bool parseVersionList(const char* begin, const char* end, VersionList& list, std::size_t maxEntries = kMaxListEntries);

// Where the server's list starts: past a UTF-8 byte-order mark (EF BB BF)
// that an editor may have put in front of the first line, `begin` otherwise.
// (The local list is the launcher's own and never has one; read as it is, it
// gives back exactly the entries saved.)
const char* afterByteOrderMark(const char* begin, const char* end);

// Appends the entries of the named list file to `list`, reading it in pieces
// (the whole file is never held). False when the file cannot be opened or
// read to its end, or is larger than twice the server list's bounds (the
// local list may also hold entries the server no longer names); what was
// read until then stays appended, and a caller may take that as the list
// (an unreadable local list fetches everything again).
bool readVersionListFile(const char* fileName, VersionList& list);

enum class LocalListLoad : std::uint8_t {
  // No installation, or its folder cannot be entered: nothing changed on disk.
  NoInstallation,
  Loaded,
  // Loaded, with the records of a journal (list_journal.h) that could not be
  // folded into the list file although the launcher may write: nothing may
  // be recorded on top of it.
  JournalKept,
};

// Reads the installation folder, makes it the current folder, removes what an
// earlier run left behind (see removeDownloadLeftovers; not when
// `mayWrite` is false) and loads its "version_list.txt" into `list` (empty
// when there is none or it cannot be read) with the files the journal of a
// run that did not end records (foldListJournal: folded into the file when
// `mayWrite`, read only otherwise).
[[nodiscard]] LocalListLoad loadLocalList(std::string& installPath, VersionList& list, bool mayWrite = true);

// Rewrites the named list file from `list`, atomically: a crash leaves either
// the old file or the new one, never a truncated one. Each entry is written as
// "%s %s %d\n" would write it. False, with the old file left as it was and no
// side file left behind, when the new one cannot be written in full.
[[nodiscard]] bool saveLocalList(const char* fileName, const VersionList& list);

// The side file saveLocalList writes before renaming it over `fileName`.
std::string versionListSideName(const char* fileName);

// One list line exactly as saveLocalList writes it: "%s %s %d\n".
std::string formatVersionEntry(const VersionEntry& entry);

// The first entry named `name`, byte for byte, if any.
std::optional<VersionEntryRef> findLocalEntry(const VersionList& list, std::string_view name);

}  // namespace update
