#include "update/entry_names.h"

#include <algorithm>

#include "net/streaming_file.h"
#include "update/download_plan.h"
#include "update/version_list.h"

namespace update {

using net::kPartialSuffix;

namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool isWindowsComponent(std::string_view component) {
  if (component.empty() || component == "." || component == "..") return false;
  if (component.back() == '.' || component.back() == ' ') return false;
  for (char c : component) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || std::string_view("<>\"|?*").find(c) != std::string_view::npos) return false;
  }
  return !isWindowsDeviceName(component);
}

// Shortest forms only, no surrogates, nothing past U+10FFFF.
bool isWellFormedUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                         : lead >= 0xE0 && lead <= 0xEF ? 3
                         : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                        : 0;
    if (length == 0 || i + length > text.size()) return false;
    const auto second = static_cast<unsigned char>(text[i + 1]);
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
    if (second < low || second > high) return false;
    for (std::size_t k = 2; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

bool isWorkingName(std::string_view component) {
  return std::any_of(kWorkingNames.begin(), kWorkingNames.end(),
                     [&](std::string_view working) { return namesEqualIgnoringCase(component, working); });
}

}  // namespace

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

bool isInstallableEntryName(std::string_view decodedName) {
  if (!isInstallRelativeName(decodedName) || !isWellFormedUtf8(decodedName)) return false;
  std::size_t start = 0;
  bool first = true;
  while (start <= decodedName.size()) {
    std::size_t stop = start;
    while (stop < decodedName.size() && !isSeparator(decodedName[stop])) ++stop;
    const std::string_view component = decodedName.substr(start, stop - start);
    if (!isWindowsComponent(component) || namesEndIgnoringCase(component, kPartialSuffix)) return false;
    // The working files live in the installation folder itself; a folder of
    // one of their names there would stand in their way.
    if (first && isWorkingName(component)) return false;
    if (first && namesEqualIgnoringCase(component, kLauncherEntryName) && decodedName != kLauncherEntryName)
      return false;
    first = false;
    start = stop + 1;
  }
  return true;
}

std::string foldedEntryName(std::string_view decodedName) {
  std::string folded(decodedName);
  for (std::size_t i = 0; i < folded.size(); ++i) {
    folded[i] = lowerAscii(folded[i]);
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
