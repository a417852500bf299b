#include "update/version_list.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <limits>

#include "platform/files.h"
#include "text/encoding.h"
#include "update/entry_names.h"

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
  return replaceFileAtomically(fileName, [&list](platform::File& file) { return writeList(file, list); });
}

bool replaceFileAtomically(const char* fileName, const std::function<bool(platform::File&)>& writeContents) {
  if (fileName == nullptr || *fileName == '\0') return false;
  const std::string side = versionListSideName(fileName);
  {
    // Made afresh: never written through a link, nor into a file another
    // process holds.
    platform::deleteFile(side.c_str());
    platform::File file = platform::File::open(side.c_str(), platform::File::Access::CreateNew);
    if (!file.isOpen()) return false;
    // The side file must be whole on disk before it takes the file's place,
    // or a crash right after the rename could leave an empty file behind.
    bool written = writeContents(file) && file.flush();
    if (!file.close() || !written) {
      platform::deleteFile(side.c_str());
      return false;
    }
  }
  if (!platform::replaceFile(side.c_str(), fileName)) {
    platform::deleteFile(side.c_str());
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Names

namespace {

struct NameEscape {
  char high;
  char low;
  char32_t letter;  // the Latin-1 code point the escape stands for
};

// Lower-case hexadecimal only: "%F1" is not one of them and stays as it is.
constexpr NameEscape kNameEscapes[] = {
    {'2', '0', U'\x20'}, {'2', '1', U'\x21'}, {'f', '1', U'\xf1'}, {'e', '1', U'\xe1'},
    {'e', '9', U'\xe9'}, {'e', 'd', U'\xed'}, {'f', '3', U'\xf3'}, {'f', 'a', U'\xfa'},
};

// The UTF-8 form of the Latin-1 letter an escape stands for.
std::string utf8Letter(const NameEscape& escape) {
  const char byte = static_cast<char>(escape.letter);
  return text::utf8FromLatin1(std::string_view(&byte, 1));
}

// The escape of the letter whose UTF-8 form starts `text`, or null.
const NameEscape* escapeAt(std::string_view text, std::size_t& length) {
  for (const NameEscape& escape : kNameEscapes) {
    const std::string form = utf8Letter(escape);
    if (text.substr(0, form.size()) == form) {
      length = form.size();
      return &escape;
    }
  }
  return nullptr;
}

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// Windows drops trailing dots and blanks from a path component, so "..." or
// ".. " may name the parent folder there. A component made only of dots and
// blanks, other than ".", is refused.
bool isParentLike(std::string_view component) {
  if (component.empty() || component == ".") return false;
  return component.find_first_not_of(". ") == std::string_view::npos;
}

}  // namespace

// One pass from left to right. No byte of a replacement is a "%" or a
// hexadecimal digit, so a replacement never completes a new escape with its
// neighbours, and this gives what replacing each escape over and over until
// none is left would give.
std::string decodeEntryName(std::string_view name) {
  std::string decoded;
  decoded.reserve(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c == '%' && i + 2 < name.size()) {
      const char high = name[i + 1];
      const char low = name[i + 2];
      const auto* match = std::find_if(std::begin(kNameEscapes), std::end(kNameEscapes),
                                       [&](const NameEscape& e) { return e.high == high && e.low == low; });
      if (match != std::end(kNameEscapes)) {
        decoded += utf8Letter(*match);
        i += 2;
        continue;
      }
    }
    decoded += c;
  }
  return decoded;
}

bool isInstallRelativeName(std::string_view decodedName) {
  if (decodedName.empty()) return false;
  if (isSeparator(decodedName.front())) return false;
  // A drive letter ("C:x"), and with it any other colon: Windows reads one as
  // a drive or a stream of the file, and no plain file name holds one.
  if (decodedName.find(':') != std::string_view::npos) return false;
  if (decodedName.find('\0') != std::string_view::npos) return false;
  std::size_t start = 0;
  while (start <= decodedName.size()) {
    std::size_t stop = start;
    while (stop < decodedName.size() && !isSeparator(decodedName[stop])) ++stop;
    if (isParentLike(decodedName.substr(start, stop - start))) return false;
    start = stop + 1;
  }
  return true;
}

namespace {

// Of the bytes decodeEntryName leaves alone, those a name may hold as they
// are: printable ASCII apart from "%", which would start an escape, and "!",
// which has one.
EntryNameFault plainByteFault(unsigned char byte) {
  if (byte == '%') return EntryNameFault::PercentSign;
  if (byte == '\t' || byte == '\n' || byte == '\v' || byte == '\f' || byte == '\r') return EntryNameFault::WhiteSpace;
  if (byte < 0x20 || byte == 0x7F) return EntryNameFault::ControlByte;
  if (byte >= 0x80) return EntryNameFault::UnescapedByte;
  return EntryNameFault::None;
}

}  // namespace

EncodedEntryName encodeEntryName(std::string_view localName) {
  EncodedEntryName result;
  if (localName.empty()) {
    result.fault = EntryNameFault::Empty;
    return result;
  }
  std::string escaped;
  escaped.reserve(localName.size());
  for (std::size_t i = 0; i < localName.size();) {
    std::size_t length = 0;
    if (const NameEscape* match = escapeAt(localName.substr(i), length)) {
      escaped += '%';
      escaped += match->high;
      escaped += match->low;
      i += length;
      continue;
    }
    EntryNameFault fault = plainByteFault(static_cast<unsigned char>(localName[i]));
    if (fault != EntryNameFault::None) {
      result.fault = fault;
      result.offset = i;
      return result;
    }
    escaped += localName[i++];
  }
  if (escaped.size() > kMaxEntryName) {
    result.fault = EntryNameFault::TooLong;
    return result;
  }
  if (!isInstallRelativeName(localName)) {
    result.fault = EntryNameFault::LeavesInstallation;
    return result;
  }
  if (!isInstallableEntryName(localName)) {
    result.fault = EntryNameFault::NotInstallable;
    return result;
  }
  result.name = std::move(escaped);
  return result;
}

std::string_view entryNameFaultText(EntryNameFault fault) {
  switch (fault) {
    case EntryNameFault::None: return "no fault";
    case EntryNameFault::Empty: return "the name is empty";
    case EntryNameFault::TooLong: return "the name is longer than 255 bytes once escaped";
    case EntryNameFault::WhiteSpace:
      return "the name holds white space other than a blank, which a list line cannot carry";
    case EntryNameFault::PercentSign:
      return "the name holds \"%\", which the launcher and web servers read as the start of an escape";
    case EntryNameFault::ControlByte: return "the name holds a control character";
    case EntryNameFault::UnescapedByte:
      return "the name holds a character other than ASCII and the six escaped letters (\u00f1 \u00e1 \u00e9 \u00ed "
             "\u00f3 \u00fa)";
    case EntryNameFault::NotInstallable:
      return "the launcher would refuse the name: a folder or file name Windows would not keep as written "
             "(empty, ending in a dot or a blank, a device name such as CON or LPT1, a character Windows forbids), "
             "one of the launcher's own files, or another spelling of Launcher.exe";
    case EntryNameFault::LeavesInstallation:
      return "the launcher would refuse the name: it is absolute, holds a colon, or a folder or file name made only of "
             "dots";
  }
  return "unknown fault";
}

}  // namespace update
