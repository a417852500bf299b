#include "update/entry_names.h"

#include <algorithm>
#include <iterator>

#include "net/streaming_file.h"
#include "text/encoding.h"
#include "update/download_plan.h"
#include "update/version_list.h"

namespace update {

namespace {

struct NameEscape {
  char high;
  char low;
  unsigned char byte;  // the Latin-1 byte, and letter, the escape stands for
};

// Lower-case hexadecimal only: "%F1" is not one of them and stays as it is.
constexpr NameEscape kNameEscapes[] = {
    {'2', '0', 0x20}, {'2', '1', 0x21}, {'f', '1', 0xF1}, {'e', '1', 0xE1},
    {'e', '9', 0xE9}, {'e', 'd', 0xED}, {'f', '3', 0xF3}, {'f', 'a', 0xFA},
};

// The escape that starts name[at], or null.
const NameEscape* escapeAt(std::string_view name, std::size_t at) {
  if (name[at] != '%' || at + 2 >= name.size()) return nullptr;
  const auto* match = std::find_if(std::begin(kNameEscapes), std::end(kNameEscapes), [&](const NameEscape& e) {
    return e.high == name[at + 1] && e.low == name[at + 2];
  });
  return match != std::end(kNameEscapes) ? match : nullptr;
}

// The UTF-8 form of the Latin-1 letter an escape stands for.
std::string utf8Letter(const NameEscape& escape) {
  const auto byte = static_cast<char>(escape.byte);
  return text::utf8FromLatin1(std::string_view(&byte, 1));
}

// The escape of the letter whose UTF-8 form starts `text`, or null.
const NameEscape* escapeOfLetter(std::string_view text, std::size_t& length) {
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

// The longest folder or file name Linux file systems hold, in bytes.
constexpr std::size_t kMaxComponentBytes = 255;

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Windows drops trailing dots and blanks from a path component, so "..." or
// ".. " may name the parent folder there. A component made only of dots and
// blanks, other than ".", is refused.
bool isParentLike(std::string_view component) {
  if (component.empty() || component == ".") return false;
  return component.find_first_not_of(". ") == std::string_view::npos;
}

// A control character of UTF-8 text: C0, DEL, or C1 (0xC2 0x80..0x9F).
bool hasControlCharacter(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7F) return true;
    if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0 &&
        static_cast<unsigned char>(text[i + 1]) >= 0x80)
      return true;
  }
  return false;
}

NameRefusal componentRefusal(std::string_view component) {
  if (component.empty()) return NameRefusal::Empty;
  if (component == ".") return NameRefusal::DotName;
  if (component.size() > kMaxComponentBytes) return NameRefusal::ComponentTooLong;
  if (hasControlCharacter(component)) return NameRefusal::ControlCharacter;
  if (component.find_first_of("<>\"|?*") != std::string_view::npos) return NameRefusal::ForbiddenCharacter;
  if (component.back() == '.' || component.back() == ' ') return NameRefusal::EndsInDotOrBlank;
  if (isWindowsDeviceName(component)) return NameRefusal::DeviceName;
  if (namesEndIgnoringCase(component, kPartialSuffix)) return NameRefusal::PartialSuffix;
  return NameRefusal::None;
}

bool isWorkingName(std::string_view component) {
  return std::any_of(kWorkingNames.begin(), kWorkingNames.end(),
                     [&](std::string_view working) { return namesEqualIgnoringCase(component, working); });
}

}  // namespace

std::string_view nameRefusalText(NameRefusal refusal) {
  switch (refusal) {
    case NameRefusal::None: return "no refusal";
    case NameRefusal::Empty: return "the name, or a folder or file name in it, is empty";
    case NameRefusal::LeavesInstallation:
      return "the name leads out of the installation: it is absolute, holds a colon, or a folder or file name made "
             "only of dots";
    case NameRefusal::DotName: return "the name holds \".\" as a folder or file name";
    case NameRefusal::EndsInDotOrBlank: return "a folder or file name ends in a dot or a blank, which Windows drops";
    case NameRefusal::DeviceName: return "a folder or file name is a device name on Windows (CON, NUL, COM1, LPT1 ...)";
    case NameRefusal::ForbiddenCharacter:
      return "the name holds one of < > \" | ? *, which Windows does not allow in a file name";
    case NameRefusal::ControlCharacter: return "the name holds a control character";
    case NameRefusal::ComponentTooLong:
      return "a folder or file name is longer than 255 bytes in UTF-8, more than a Linux file system holds";
    case NameRefusal::PartialSuffix: return "names ending in \".ghpart\" are the launcher's partial downloads";
    case NameRefusal::WorkingName: return "the launcher keeps a file of its own under this name or folder";
    case NameRefusal::LauncherSpelling: return "only \"Launcher.exe\" itself, spelt so, replaces the launcher";
    case NameRefusal::TooLong: return "the name is longer than 255 bytes once escaped";
    case NameRefusal::WhiteSpace:
      return "the name holds white space other than a blank, which a list line cannot carry";
    case NameRefusal::PercentSign:
      return "the name holds \"%\", which the launcher and web servers read as the start of an escape";
    case NameRefusal::NotText: return "the name is not UTF-8 text";
  }
  return "unknown refusal";
}

std::string textOfNameBytes(std::string_view bytes) {
  return text::isWellFormedUtf8(bytes) ? std::string(bytes) : text::utf8FromWindows1252(bytes);
}

// One pass from left to right. No byte of a replacement is a "%" or a
// hexadecimal digit, so a replacement never completes a new escape with its
// neighbours, and this gives what replacing each escape over and over until
// none is left would give. The escapes are ASCII, so whether the name is
// UTF-8 is judged on the name as listed.
std::string decodeEntryName(std::string_view name) {
  const bool utf8 = text::isWellFormedUtf8(name);
  std::string decoded;
  decoded.reserve(name.size());
  std::size_t plain = 0;
  auto appendPlain = [&](std::size_t stop) {
    const std::string_view run = name.substr(plain, stop - plain);
    if (utf8) {
      decoded.append(run);
    } else {
      decoded += text::utf8FromWindows1252(run);
    }
  };
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (const NameEscape* escape = escapeAt(name, i)) {
      appendPlain(i);
      decoded += utf8Letter(*escape);
      i += 2;
      plain = i + 1;
    }
  }
  appendPlain(name.size());
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

NameRefusal entryNameRefusal(std::string_view decodedName) {
  if (decodedName.empty()) return NameRefusal::Empty;
  if (!isInstallRelativeName(decodedName)) return NameRefusal::LeavesInstallation;
  std::size_t start = 0;
  bool first = true;
  while (start <= decodedName.size()) {
    std::size_t stop = start;
    while (stop < decodedName.size() && !isSeparator(decodedName[stop])) ++stop;
    const std::string_view component = decodedName.substr(start, stop - start);
    if (NameRefusal refusal = componentRefusal(component); refusal != NameRefusal::None) return refusal;
    // The working files live in the installation folder itself; a folder of
    // one of their names there would stand in their way.
    if (first && isWorkingName(component)) return NameRefusal::WorkingName;
    if (first && namesEqualIgnoringCase(component, kLauncherEntryName) && decodedName != kLauncherEntryName)
      return NameRefusal::LauncherSpelling;
    first = false;
    start = stop + 1;
  }
  return NameRefusal::None;
}

bool isInstallableEntryName(std::string_view decodedName) { return entryNameRefusal(decodedName) == NameRefusal::None; }

EncodedEntryName encodeEntryName(std::string_view localName) {
  EncodedEntryName result;
  auto refuse = [&](NameRefusal refusal, std::size_t offset) {
    result.refusal = refusal;
    result.offset = offset;
    return result;
  };
  if (localName.empty()) return refuse(NameRefusal::Empty, 0);
  std::string escaped;
  escaped.reserve(localName.size());
  for (std::size_t i = 0; i < localName.size();) {
    std::size_t length = 0;
    if (const NameEscape* match = escapeOfLetter(localName.substr(i), length)) {
      escaped += '%';
      escaped += match->high;
      escaped += match->low;
      i += length;
      continue;
    }
    const auto byte = static_cast<unsigned char>(localName[i]);
    if (byte == '%') return refuse(NameRefusal::PercentSign, i);
    if (byte == '\t' || byte == '\n' || byte == '\v' || byte == '\f' || byte == '\r')
      return refuse(NameRefusal::WhiteSpace, i);
    if (byte < 0x20 || byte == 0x7F) return refuse(NameRefusal::ControlCharacter, i);
    // Any other letter goes into the list as its UTF-8 bytes, which the
    // launcher reads back as that letter.
    length = byte < 0x80 ? 1 : text::utf8SequenceLength(localName, i);
    if (length == 0) return refuse(NameRefusal::NotText, i);
    if (hasControlCharacter(localName.substr(i, length))) return refuse(NameRefusal::ControlCharacter, i);
    escaped.append(localName.substr(i, length));
    i += length;
  }
  if (escaped.size() > kMaxEntryName) return refuse(NameRefusal::TooLong, 0);
  if (NameRefusal refusal = entryNameRefusal(localName); refusal != NameRefusal::None) return refuse(refusal, 0);
  result.name = std::move(escaped);
  return result;
}

std::string serverFileName(std::string_view entryName) {
  std::string bytes;
  bytes.reserve(entryName.size());
  for (std::size_t i = 0; i < entryName.size(); ++i) {
    if (const NameEscape* escape = escapeAt(entryName, i)) {
      bytes += static_cast<char>(escape->byte);
      i += 2;
      continue;
    }
    bytes += entryName[i];
  }
  return bytes;
}

bool namesEqualIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lowerAscii(x) == lowerAscii(y); });
}

bool namesEndIgnoringCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && namesEqualIgnoringCase(text.substr(text.size() - suffix.size()), suffix);
}

bool isWindowsDeviceName(std::string_view component) {
  std::string_view base = component.substr(0, component.find('.'));
  // Windows also ignores blanks before the extension: "con .txt" is CON.
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  for (std::string_view device : {"con", "prn", "aux", "nul"}) {
    if (namesEqualIgnoringCase(base, device)) return true;
  }
  if (base.size() == 4 && base[3] >= '1' && base[3] <= '9') {
    std::string_view stem = base.substr(0, 3);
    return namesEqualIgnoringCase(stem, "com") || namesEqualIgnoringCase(stem, "lpt");
  }
  return false;
}

std::string foldedEntryName(std::string_view decodedName) {
  std::string folded(decodedName);
  for (std::size_t i = 0; i < folded.size(); ++i) {
    folded[i] = folded[i] == '\\' ? '/' : lowerAscii(folded[i]);
    // U+00C0..U+00DE (but U+00D7, the multiplication sign) are the capitals
    // of U+00E0..U+00FE: in UTF-8, 0xC3 0x80..0x9E against 0xC3 0xA0..0xBE.
    if (static_cast<unsigned char>(folded[i]) == 0xC3 && i + 1 < folded.size()) {
      const auto next = static_cast<unsigned char>(folded[i + 1]);
      if (next >= 0x80 && next <= 0x9E && next != 0x97) folded[i + 1] = static_cast<char>(next + 0x20);
      ++i;
    }
  }
  return folded;
}

}  // namespace update
