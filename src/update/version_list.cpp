#include "update/version_list.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <limits>

#include "platform/files.h"

namespace update {

// ---------------------------------------------------------------------------
// VersionList

namespace {

std::size_t hashName(std::string_view name) { return std::hash<std::string_view>{}(name); }

// Whether `part` lies in `text`: such a view dies when the text regrows.
bool within(std::string_view part, const std::string& text) {
  std::less<> before;
  return !part.empty() && !before(part.data(), text.data()) && before(part.data(), text.data() + text.size());
}

// Capacity for `needed` elements, growing by half at least, so that filling
// a list piece by piece costs no more than filling it at once.
template <typename Container>
void reserveFor(Container& container, std::size_t needed) {
  if (needed > container.capacity())
    container.reserve(std::max(needed, container.capacity() + container.capacity() / 2));
}

}  // namespace

void VersionList::append(std::string_view name, std::string_view version, std::uint32_t size) {
  if (within(name, text_) || within(version, text_)) {
    append(std::string(name), std::string(version), size);
    return;
  }
  name = name.substr(0, kMaxEntryName);
  version = version.substr(0, kMaxEntryVersion);
  slots_.push_back(
      {text_.size(), size, static_cast<std::uint8_t>(name.size()), static_cast<std::uint8_t>(version.size())});
  text_.append(name).append(version);
  if (!index_.empty()) {
    // At most half full, so that a probe ends soon.
    if (slots_.size() * 2 > index_.size()) {
      buildIndex();
    } else {
      indexEntry(slots_.size() - 1);
    }
  }
}

void VersionList::reserve(std::size_t entries, std::size_t textBytes) {
  reserveFor(slots_, slots_.size() + entries);
  reserveFor(text_, text_.size() + textBytes);
}

void VersionList::clear() {
  text_.clear();
  slots_.clear();
  index_.clear();
}

std::string_view VersionList::nameAt(std::size_t at) const {
  const Slot& slot = slots_[at];
  return std::string_view(text_).substr(slot.text, slot.nameLength);
}

VersionEntryRef VersionList::operator[](std::size_t at) const {
  const Slot& slot = slots_[at];
  std::string_view text(text_);
  return {text.substr(slot.text, slot.nameLength), text.substr(slot.text + slot.nameLength, slot.versionLength),
          slot.size};
}

// Puts entry `at` into the table unless an earlier entry has its name: the
// first entry of a name is the one a lookup finds.
void VersionList::indexEntry(std::size_t at) const {
  const std::string_view name = nameAt(at);
  const std::size_t mask = index_.size() - 1;
  for (std::size_t cell = hashName(name) & mask;; cell = (cell + 1) & mask) {
    if (index_[cell] == 0) {
      index_[cell] = static_cast<std::uint32_t>(at + 1);
      return;
    }
    if (nameAt(index_[cell] - 1) == name) return;
  }
}

void VersionList::buildIndex() const {
  std::size_t cells = 16;
  while (cells < slots_.size() * 2 + 2) cells *= 2;
  index_.assign(cells, 0);
  for (std::size_t at = 0; at < slots_.size(); ++at) indexEntry(at);
}

std::size_t VersionList::indexOf(std::string_view name) const {
  if (slots_.empty()) return npos;
  if (index_.empty()) buildIndex();
  const std::size_t mask = index_.size() - 1;
  for (std::size_t cell = hashName(name) & mask; index_[cell] != 0; cell = (cell + 1) & mask) {
    if (nameAt(index_[cell] - 1) == name) return index_[cell] - 1;
  }
  return npos;
}

std::optional<VersionEntryRef> VersionList::find(std::string_view name) const {
  std::size_t at = indexOf(name);
  if (at == npos) return std::nullopt;
  return (*this)[at];
}

void VersionList::update(std::size_t at, std::string_view version, std::uint32_t size) {
  if (within(version, text_)) {
    update(at, std::string(version), size);
    return;
  }
  version = version.substr(0, kMaxEntryVersion);
  Slot& slot = slots_[at];
  slot.size = size;
  if (version.size() > slot.versionLength) {
    // No room after the name: the entry moves to the end of the text. The
    // index holds entry numbers, so it stays right.
    std::string name(nameAt(at));
    slot.text = text_.size();
    text_.append(name);
    text_.append(version);
  } else {
    text_.replace(slot.text + slot.nameLength, version.size(), version);
  }
  slot.versionLength = static_cast<std::uint8_t>(version.size());
}

std::optional<VersionEntryRef> findLocalEntry(const VersionList& list, std::string_view name) {
  return list.find(name);
}

// ---------------------------------------------------------------------------
// Reading

namespace {

// White space inside a line: what the C library's text reading skips between
// fields. A vertical tab or form feed ends a field as a blank does, so that
// no name or version holds one. A "\r" never reaches a line: it ends one.
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

// The length of the line end at the front of `text` ("\n", "\r\n" or a lone
// "\r"), or 0 when none starts there.
std::size_t lineEndAt(std::string_view text, std::size_t at) {
  if (at >= text.size()) return 0;
  if (text[at] == '\n') return 1;
  if (text[at] != '\r') return 0;
  return at + 1 < text.size() && text[at + 1] == '\n' ? 2 : 1;
}

// How many lines the text holds, at most: one more than its line ends.
std::size_t countLines(std::string_view text) {
  std::size_t lines = 1;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '\n' || (text[at] == '\r' && (at + 1 == text.size() || text[at + 1] != '\n'))) ++lines;
  }
  return lines;
}

// Cuts the next run of non-blank bytes off the front of `line`; empty when
// the line holds no further field.
std::string_view nextField(std::string_view& line) {
  std::size_t start = 0;
  while (start < line.size() && isBlank(line[start])) ++start;
  std::size_t stop = start;
  while (stop < line.size() && !isBlank(line[stop])) ++stop;
  std::string_view field = line.substr(start, stop - start);
  line.remove_prefix(stop);
  return field;
}

// The size field, read as "%u" reads it: an optional sign, then the decimal
// digits at the front; whatever follows them ("k", "kB", "x") is ignored.
//
// A leading "-" is how the local list writes sizes of 2 GiB and more (as
// negative 32-bit numbers, "%d"); "-N" reads back as 2^32 - N, so only
// magnitudes up to 2^31 are valid there. No digits at the front, or a value
// that does not fit 32 bits, is not a size, and the line yields no entry
// rather than a wrapped, absurd one.
bool parseSize(std::string_view field, std::uint32_t& size) {
  bool negative = false;
  if (!field.empty() && (field.front() == '+' || field.front() == '-')) {
    negative = field.front() == '-';
    field.remove_prefix(1);
  }
  std::uint64_t value = 0;
  auto [stop, error] = std::from_chars(field.data(), field.data() + field.size(), value);
  if (error != std::errc() || stop == field.data()) return false;
  if (negative) {
    if (value > (std::uint64_t{1} << 31)) return false;
    size = static_cast<std::uint32_t>((std::uint64_t{1} << 32) - value);  // "-0" wraps to 0
    return true;
  }
  if (value > std::numeric_limits<std::uint32_t>::max()) return false;
  size = static_cast<std::uint32_t>(value);
  return true;
}

// One line, without its "\n": "name version size", separated by blanks or
// tabs. What follows the size is ignored. A NUL byte anywhere makes the line
// unusable: the name would be cut short at the first file call.
bool parseLine(std::string_view line, VersionList& list) {
  if (line.find('\0') != std::string_view::npos) return false;
  std::string_view name = nextField(line);
  std::string_view version = nextField(line);
  std::string_view sizeField = nextField(line);
  if (name.empty() || version.empty() || sizeField.empty()) return false;
  if (name.size() > kMaxEntryName || version.size() > kMaxEntryVersion) return false;
  std::uint32_t size = 0;
  if (!parseSize(sizeField, size)) return false;
  list.append(name, version, size);
  return true;
}

}  // namespace

bool parseVersionList(const char* begin, const char* end, VersionList& list, std::size_t maxEntries) {
  if (begin == nullptr || end == nullptr || end <= begin) return true;
  std::string_view text(begin, static_cast<std::size_t>(end - begin));
  // Sized once: at most one entry per line, and the names and versions are
  // fewer bytes than the text. No regrowth, no copy of a half-built list.
  const std::size_t lines = countLines(text);
  list.reserve(std::min(lines, maxEntries), std::min(text.size(), maxEntries * (kMaxEntryName + kMaxEntryVersion)));
  std::size_t appended = 0;
  while (!text.empty()) {
    // "\n", "\r\n" and a lone "\r" each end a line: a list saved with any
    // of them, or a mix, loses no entry.
    const std::size_t lineEnd = std::min(text.find_first_of("\r\n"), text.size());
    std::string_view line = text.substr(0, lineEnd);
    text.remove_prefix(lineEnd + lineEndAt(text, lineEnd));
    if (appended == maxEntries) {
      // One more entry is one too many; a line that yields none is no harm.
      VersionList probe;
      if (parseLine(line, probe)) return false;
      continue;
    }
    if (parseLine(line, list)) ++appended;
  }
  return true;
}

const char* afterByteOrderMark(const char* begin, const char* end) {
  if (begin == nullptr || end - begin < 3) return begin;
  return std::string_view(begin, 3) == "\xef\xbb\xbf" ? begin + 3 : begin;
}

bool readVersionListFile(const char* fileName, VersionList& list) {
  platform::File file = platform::File::open(fileName, platform::File::Access::ReadExisting);
  if (!file.isOpen()) return false;
  constexpr std::size_t kChunk = std::size_t{64} * 1024;
  const std::size_t maxBytes = 2 * kMaxListBytes;
  const std::size_t maxEntries = 2 * kMaxListEntries;
  const std::size_t before = list.size();
  std::string pending;  // the bytes after the last complete line
  std::size_t total = 0;
  for (;;) {
    const std::size_t held = pending.size();
    pending.resize(held + kChunk);
    std::uint32_t got = 0;
    // A list that cannot be read to its end is not trusted beyond that.
    if (!file.read(pending.data() + held, static_cast<std::uint32_t>(kChunk), &got)) return false;
    pending.resize(held + got);
    total += got;
    if (total > maxBytes) return false;
    const bool atEnd = got == 0;
    // A "\r" at the very end of a piece may be the first half of a "\r\n":
    // the "\n" that follows then ends an empty line, which yields nothing.
    const std::size_t lastLineEnd = pending.find_last_of("\r\n");
    const std::size_t complete = atEnd ? pending.size() : (lastLineEnd == std::string::npos ? 0 : lastLineEnd + 1);
    if (complete > 0) {
      if (!parseVersionList(pending.data(), pending.data() + complete, list, maxEntries - (list.size() - before))) {
        return false;
      }
      pending.erase(0, complete);
    }
    if (atEnd) return true;
  }
}

// ---------------------------------------------------------------------------
// Writing

namespace {

// One line as "%s %s %d\n" writes it: the size as a signed 32-bit number, so
// 2 GiB and more come out negative.
void appendVersionEntry(std::string& text, std::string_view name, std::string_view version, std::uint32_t size) {
  char number[16];
  text.append(name);
  text += ' ';
  text.append(version);
  text += ' ';
  auto result = std::to_chars(number, number + sizeof number, static_cast<std::int32_t>(size));
  text.append(number, result.ptr);
  text += '\n';
}

// The list's text, written in blocks: a list of a million entries is never
// held a second time as one text.
bool writeList(platform::File& file, const VersionList& list) {
  constexpr std::size_t kBlock = std::size_t{64} * 1024;
  std::string block;
  block.reserve(kBlock + 512);
  for (const VersionEntryRef entry : list) {
    appendVersionEntry(block, entry.name, entry.version, entry.size);
    if (block.size() >= kBlock) {
      if (!file.write(block.data(), static_cast<std::uint32_t>(block.size()))) return false;
      block.clear();
    }
  }
  return block.empty() || file.write(block.data(), static_cast<std::uint32_t>(block.size()));
}

}  // namespace

std::string formatVersionEntry(const VersionEntry& entry) {
  std::string text;
  appendVersionEntry(text, entry.name, entry.version, entry.size);
  return text;
}

std::string versionListSideName(const char* fileName) { return std::string(fileName) + kVersionListSideSuffix; }

bool saveLocalList(const char* fileName, const VersionList& list) {
  return platform::replaceFileAtomically(fileName, kVersionListSideSuffix,
                                         [&list](platform::File& file) { return writeList(file, list); });
}

}  // namespace update
