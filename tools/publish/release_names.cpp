#include "release_names.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "net/streaming_file.h"
#include "text/encoding.h"
#include "update/download_plan.h"
#include "update/entry_names.h"
#include "update/list_signature.h"
#include "update/version_list.h"

using net::kPartialSuffix;
using update::isWindowsDeviceName;
using update::kLauncherEntryName;
using update::kSignatureName;
using update::kWorkingNames;
using update::namesEndIgnoringCase;
using update::namesEqualIgnoringCase;

namespace publish {

namespace {

// The second byte of the UTF-8 form (0xC3 0x..) of each Latin-1 letter the
// list format escapes: ñ á é í ó ú.
constexpr std::array<unsigned char, 6> kEscapedLetters = {0xF1, 0xE1, 0xE9, 0xED, 0xF3, 0xFA};

bool isEscapedLetter(unsigned char byte) {
  return std::find(kEscapedLetters.begin(), kEscapedLetters.end(), byte) != kEscapedLetters.end();
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The length of the valid UTF-8 sequence starting at `i`, or 0.
std::size_t utf8SequenceLength(std::string_view text, std::size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  std::size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead <= 0xDF ? 2 : 0;
  if (length == 0 || lead > 0xF4 || i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
  }
  return length;
}

}  // namespace

std::string localNameFromDisk(std::string_view diskName) {
  std::string local;
  local.reserve(diskName.size());
  for (std::size_t i = 0; i < diskName.size(); ++i) {
    const auto byte = static_cast<unsigned char>(diskName[i]);
    if (byte == 0xC3 && i + 1 < diskName.size()) {
      // 0xC3 0x80..0xBF is U+00C0..U+00FF, the Latin-1 byte 0x40 above the
      // second one.
      const auto latin1 = static_cast<unsigned char>(static_cast<unsigned char>(diskName[i + 1]) + 0x40);
      if (isEscapedLetter(latin1)) {
        local += static_cast<char>(latin1);
        ++i;
        continue;
      }
    }
    local += diskName[i];
  }
  return local;
}

std::string windowsNameFault(std::string_view localName) {
  constexpr std::string_view kRefused = "<>:\"|?*\\#";
  std::size_t at = localName.find_first_of(kRefused);
  if (at != std::string_view::npos) {
    std::string text("the name holds \"");
    text += localName[at];
    return text.append("\", which Windows does not allow in a file name or a web address would cut");
  }
  std::size_t start = 0;
  while (start <= localName.size()) {
    std::size_t stop = std::min(localName.find('/', start), localName.size());
    std::string_view component = localName.substr(start, stop - start);
    if (!component.empty() && (component.back() == '.' || component.back() == ' ')) {
      return quotedName(component).append(" ends in a dot or a blank, which Windows drops");
    }
    if (isWindowsDeviceName(component)) {
      return quotedName(component).append(" is a device name on Windows");
    }
    start = stop + 1;
  }
  return {};
}

std::string reservedNameFault(std::string_view localName) {
  const std::string_view top = localName.substr(0, localName.find('/'));
  std::size_t start = 0;
  while (start <= localName.size()) {
    const std::size_t stop = std::min(localName.find('/', start), localName.size());
    if (namesEndIgnoringCase(localName.substr(start, stop - start), kPartialSuffix)) {
      return std::string("names ending in \"").append(kPartialSuffix).append("\" are the launcher's partial downloads");
    }
    start = stop + 1;
  }
  for (std::string_view working : kWorkingNames) {
    if (namesEqualIgnoringCase(top, working)) return "the launcher keeps a file of its own under this name";
  }
  if (namesEqualIgnoringCase(top, kLauncherEntryName) && localName != kLauncherEntryName) {
    return std::string("only \"").append(kLauncherEntryName).append("\" itself, spelt so, replaces the launcher");
  }
  // The launcher's own record of the signed release is among the working
  // names; the list's signature lies beside the list in the update folder.
  if (namesEqualIgnoringCase(localName, kSignatureName))
    return "the update folder holds the list's signature under this name";
  return {};
}

std::string longPathWarning(std::string_view localName) {
  const std::string installed = installedName(localName);
  const std::size_t slash = installed.rfind('/');
  const std::size_t folderUnits =
      slash == std::string::npos ? 0 : text::utf16FromUtf8(installed.substr(0, slash + 1)).size();
  const std::size_t nameUnits = text::utf16FromUtf8(installed).size();
  constexpr std::size_t kSideFileName = 16 + std::string_view(kPartialSuffix).size();
  const std::size_t longest = kTypicalInstallFolder + 1 + std::max(nameUnits, folderUnits + kSideFileName);
  if (longest <= kMaxPathCharacters) return {};
  return "its path would be " + std::to_string(longest) +
         " characters long in a typical installation (C:\\Users\\<user>\\AppData\\Local\\Programs\\<game>, " +
         std::to_string(kTypicalInstallFolder) + " characters), past Windows' " + std::to_string(kMaxPathCharacters) +
         ": the launcher installs it, but the game, the installer and Explorer may not open it where the "
         "long-path policy is off";
}

std::string installedName(std::string_view localName) { return text::utf8FromLatin1(localName); }

std::string foldedName(std::string_view localName) {
  std::string folded(localName);
  std::transform(folded.begin(), folded.end(), folded.begin(), lowerAscii);
  return folded;
}

std::string printableName(std::string_view name) {
  std::string shown;
  for (std::size_t i = 0; i < name.size();) {
    const auto byte = static_cast<unsigned char>(name[i]);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      shown += name[i++];
      continue;
    }
    if (std::size_t length = byte >= 0x80 ? utf8SequenceLength(name, i) : 0; length > 0) {
      shown.append(name.substr(i, length));
      i += length;
      continue;
    }
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02x", byte);
    shown += hex;
    ++i;
  }
  return shown;
}

}  // namespace publish

namespace publish {

// Built by appending: GCC 12 at -O3 reports a false -Wrestrict for a literal
// put in front of a string ("\"" + text).
std::string quotedName(std::string_view name) {
  std::string text("\"");
  return text.append(printableName(name)).append("\"");
}

}  // namespace publish
