#include "update/version_list.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "platform/files.h"

// ---------------------------------------------------------------------------
// VersionList

void VersionList::append(VersionEntry entry) {
  // try_emplace keeps the index of the first entry of a name.
  firstByName_.try_emplace(entry.name, entries_.size());
  entries_.push_back(std::move(entry));
}

void VersionList::clear() {
  entries_.clear();
  firstByName_.clear();
}

VersionEntry* VersionList::find(std::string_view name) {
  auto it = firstByName_.find(name);
  return it == firstByName_.end() ? nullptr : &entries_[it->second];
}

const VersionEntry* VersionList::find(std::string_view name) const {
  auto it = firstByName_.find(name);
  return it == firstByName_.end() ? nullptr : &entries_[it->second];
}

VersionEntry* findLocalEntry(VersionList& list, std::string_view name) { return list.find(name); }

// ---------------------------------------------------------------------------
// Reading

namespace {

// White space inside a line: what the C library's text reading skips between
// fields. A "\r" can only be the rest of a "\r\n" line end or a stray one;
// either way it separates nothing from anything. A vertical tab or form feed
// ends a field as a blank does, so that no name or version holds one.
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

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

// The size field: decimal digits with an optional "k" after them, which
// stands for nothing (the number counts bytes all the same).
//
// A leading "-" is accepted because the local list writes sizes of 2 GiB and
// more as negative 32-bit numbers ("%d"); "-N" reads back as 2^32 - N, so
// only magnitudes up to 2^31 are valid there. A leading "+" is accepted as
// the C library's number reading does. Anything else -- no digits, other
// bytes after the digits, a value that does not fit 32 bits -- is not a size,
// and the line yields no entry rather than a wrapped, absurd one.
bool parseSize(std::string_view field, std::uint32_t& size) {
  if (!field.empty() && field.back() == 'k') field.remove_suffix(1);
  bool negative = false;
  if (!field.empty() && (field.front() == '+' || field.front() == '-')) {
    negative = field.front() == '-';
    field.remove_prefix(1);
  }
  if (field.empty()) return false;
  std::uint64_t value = 0;
  auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
  if (error != std::errc() || end != field.data() + field.size()) return false;
  if (negative) {
    if (value > (std::uint64_t{1} << 31)) return false;
    size = static_cast<std::uint32_t>((std::uint64_t{1} << 32) - value);  // "-0" wraps to 0
    return true;
  }
  if (value > std::numeric_limits<std::uint32_t>::max()) return false;
  size = static_cast<std::uint32_t>(value);
  return true;
}

// One line, without its "\n": "name version size[k]", separated by blanks or
// tabs. What follows the size is ignored. A NUL byte anywhere makes the line
// unusable: the name would be cut short at the first file call.
bool parseLine(std::string_view line, VersionEntry& entry) {
  if (line.find('\0') != std::string_view::npos) return false;
  std::string_view name = nextField(line);
  std::string_view version = nextField(line);
  std::string_view size = nextField(line);
  if (name.empty() || version.empty() || size.empty()) return false;
  if (name.size() > kMaxEntryName || version.size() > kMaxEntryVersion) return false;
  if (!parseSize(size, entry.size)) return false;
  entry.name.assign(name);
  entry.version.assign(version);
  return true;
}

}  // namespace

void parseVersionList(const char* begin, const char* end, VersionList& list) {
  if (begin == nullptr || end == nullptr || end <= begin) return;
  std::string_view text(begin, static_cast<std::size_t>(end - begin));
  while (!text.empty()) {
    std::size_t lineEnd = text.find('\n');
    std::string_view line = text.substr(0, lineEnd);
    text.remove_prefix(lineEnd == std::string_view::npos ? text.size() : lineEnd + 1);
    VersionEntry entry;
    if (parseLine(line, entry)) list.append(std::move(entry));
  }
}

bool readVersionListFile(const char* fileName, VersionList& list) {
  platform::File file = platform::File::open(fileName, platform::File::Access::ReadExisting);
  if (!file.isOpen()) return false;
  std::string text;
  char chunk[64 * 1024];
  for (;;) {
    std::uint32_t got = 0;
    // A list that cannot be read to its end is not trusted in part.
    if (!file.read(chunk, sizeof chunk, &got)) return false;
    if (got == 0) break;
    text.append(chunk, got);
  }
  file.close();
  parseVersionList(text.data(), text.data() + text.size(), list);
  return true;
}

// ---------------------------------------------------------------------------
// Writing

namespace {

// The list's text exactly as "%s %s %d\n" per entry writes it: the size as a
// signed 32-bit number, so 2 GiB and more come out negative.
void appendVersionEntry(std::string& text, const VersionEntry& entry) {
  char number[16];
  text += entry.name;
  text += ' ';
  text += entry.version;
  text += ' ';
  auto result = std::to_chars(number, number + sizeof number, static_cast<std::int32_t>(entry.size));
  text.append(number, result.ptr);
  text += '\n';
}

std::string formatVersionList(const VersionList& list) {
  std::string text;
  for (const VersionEntry& entry : list) appendVersionEntry(text, entry);
  return text;
}

bool writeAll(platform::File& file, const std::string& text) {
  constexpr std::size_t kMaxWrite = std::size_t{1} << 30;
  for (std::size_t done = 0; done < text.size();) {
    std::size_t part = std::min(kMaxWrite, text.size() - done);
    if (!file.write(text.data() + done, static_cast<std::uint32_t>(part))) return false;
    done += part;
  }
  return true;
}

}  // namespace

std::string formatVersionEntry(const VersionEntry& entry) {
  std::string text;
  appendVersionEntry(text, entry);
  return text;
}

std::string versionListSideName(const char* fileName) { return std::string(fileName) + kVersionListSideSuffix; }

bool saveLocalList(const char* fileName, const VersionList& list) {
  if (fileName == nullptr || *fileName == '\0') return false;
  const std::string side = versionListSideName(fileName);
  {
    platform::File file = platform::File::open(side.c_str(), platform::File::Access::CreateAlways);
    if (!file.isOpen()) return false;
    // The side file must be whole on disk before it takes the list's place,
    // or a crash right after the rename could leave an empty list behind.
    bool written = writeAll(file, formatVersionList(list)) && file.flush();
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
  char byte;
};

// Lower-case hexadecimal only: "%F1" is not one of them and stays as it is.
constexpr NameEscape kNameEscapes[] = {
    {'2', '0', '\x20'}, {'2', '1', '\x21'}, {'f', '1', '\xf1'}, {'e', '1', '\xe1'},
    {'e', '9', '\xe9'}, {'e', 'd', '\xed'}, {'f', '3', '\xf3'}, {'f', 'a', '\xfa'},
};

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// Windows drops trailing dots and blanks from a path component, so "..." or
// ".. " may name the parent folder there. A component made only of dots and
// blanks, other than ".", is refused.
bool isParentLike(std::string_view component) {
  if (component.empty() || component == ".") return false;
  return component.find_first_not_of(". ") == std::string_view::npos;
}

}  // namespace

// One pass from left to right. No replacement byte is a "%" or a hexadecimal
// digit, so a replacement never completes a new escape with its neighbours,
// and this gives what replacing each escape over and over until none is left
// would give.
std::string decodeEntryName(std::string_view name) {
  std::string decoded;
  decoded.reserve(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c == '%' && i + 2 < name.size()) {
      const char high = name[i + 1];
      const char low = name[i + 2];
      auto match = std::find_if(std::begin(kNameEscapes), std::end(kNameEscapes),
                                [&](const NameEscape& e) { return e.high == high && e.low == low; });
      if (match != std::end(kNameEscapes)) {
        decoded += match->byte;
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
  for (std::size_t i = 0; i < localName.size(); ++i) {
    const char c = localName[i];
    auto match = std::find_if(std::begin(kNameEscapes), std::end(kNameEscapes),
                              [&](const NameEscape& e) { return e.byte == c; });
    if (match != std::end(kNameEscapes)) {
      escaped += '%';
      escaped += match->high;
      escaped += match->low;
      continue;
    }
    EntryNameFault fault = plainByteFault(static_cast<unsigned char>(c));
    if (fault != EntryNameFault::None) {
      result.fault = fault;
      result.offset = i;
      return result;
    }
    escaped += c;
  }
  if (escaped.size() > kMaxEntryName) {
    result.fault = EntryNameFault::TooLong;
    return result;
  }
  if (!isInstallRelativeName(localName)) {
    result.fault = EntryNameFault::LeavesInstallation;
    return result;
  }
  result.name = std::move(escaped);
  return result;
}

std::string_view entryNameFaultText(EntryNameFault fault) {
  switch (fault) {
    case EntryNameFault::None:
      return "no fault";
    case EntryNameFault::Empty:
      return "the name is empty";
    case EntryNameFault::TooLong:
      return "the name is longer than 255 bytes once escaped";
    case EntryNameFault::WhiteSpace:
      return "the name holds white space other than a blank, which a list line cannot carry";
    case EntryNameFault::PercentSign:
      return "the name holds \"%\", which the launcher and web servers read as the start of an escape";
    case EntryNameFault::ControlByte:
      return "the name holds a control character";
    case EntryNameFault::UnescapedByte:
      return "the name holds a character other than ASCII and the six escaped letters (\u00f1 \u00e1 \u00e9 \u00ed \u00f3 \u00fa)";
    case EntryNameFault::LeavesInstallation:
      return "the launcher would refuse the name: it is absolute, holds a colon, or a folder or file name made only of dots";
  }
  return "unknown fault";
}
