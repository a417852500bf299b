#include "platform/win32/wide_text.h"

#include <optional>
#include <vector>

#include "text/encoding.h"

namespace platform {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide text is UTF-16");

std::wstring wideText(std::string_view utf8) {
  const std::optional<std::u16string> wide = text::utf16FromWellFormedUtf8(utf8);
  if (!wide) return {};
  return std::wstring(reinterpret_cast<const wchar_t*>(wide->data()), wide->size());
}

std::string utf8Text(std::wstring_view utf16) {
  return text::utf8FromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(utf16.data()), utf16.size()));
}

namespace {

constexpr std::wstring_view kExtendedPrefix = L"\\\\?\\";
constexpr std::wstring_view kDevicePrefix = L"\\\\.\\";

bool isDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool startsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    wchar_t c = text[i];
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    if (c != prefix[i]) return false;
  }
  return true;
}

// An absolute path taken apart: its root in the extended form, without a
// separator at its end ("\\?\C:", "\\?\UNC\server\share"), and the rest.
struct AbsolutePath {
  std::wstring root;
  std::wstring_view rest;
};

// "server\share\rest" of a network path; nullopt without both names.
std::optional<AbsolutePath> splitShare(std::wstring_view path) {
  const std::size_t serverEnd = path.find(L'\\');
  if (serverEnd == std::wstring_view::npos || serverEnd == 0) return std::nullopt;
  std::size_t shareEnd = path.find(L'\\', serverEnd + 1);
  if (shareEnd == std::wstring_view::npos) shareEnd = path.size();
  if (shareEnd == serverEnd + 1) return std::nullopt;
  return AbsolutePath{std::wstring(kExtendedPrefix) + L"UNC\\" + std::wstring(path.substr(0, shareEnd)),
                      path.substr(shareEnd)};
}

// "C:\rest" (or "C:" alone after the extended prefix).
std::optional<AbsolutePath> splitDrive(std::wstring_view path, bool bareDrive) {
  if (path.size() < 2 || !isDriveLetter(path[0]) || path[1] != L':') return std::nullopt;
  if (path.size() == 2 ? !bareDrive : path[2] != L'\\') return std::nullopt;
  return AbsolutePath{std::wstring(kExtendedPrefix) + std::wstring(path.substr(0, 2)), path.substr(2)};
}

// The root of an absolute path, with "/" already "\"; nullopt when the path
// is not absolute (relative, rooted at "\" only, drive-relative, or a
// network path without its share).
std::optional<AbsolutePath> splitAbsolute(std::wstring_view path) {
  if (path.substr(0, kExtendedPrefix.size()) == kExtendedPrefix) {
    // A current folder already in the extended form.
    const std::wstring_view inner = path.substr(kExtendedPrefix.size());
    if (startsWithNoCase(inner, L"UNC\\")) return splitShare(inner.substr(4));
    return splitDrive(inner, true);
  }
  if (path.substr(0, 2) == L"\\\\") return splitShare(path.substr(2));
  return splitDrive(path, false);
}

// Adds the components of `rest` to `components`: empty ones and "." go,
// ".." takes the last one off (none is taken off the root).
void addComponents(std::wstring_view rest, std::vector<std::wstring_view>& components) {
  std::size_t at = 0;
  while (at <= rest.size()) {
    std::size_t end = rest.find(L'\\', at);
    if (end == std::wstring_view::npos) end = rest.size();
    const std::wstring_view component = rest.substr(at, end - at);
    if (component == L"..") {
      if (!components.empty()) components.pop_back();
    } else if (!component.empty() && component != L".") {
      components.push_back(component);
    }
    at = end + 1;
  }
}

}  // namespace

std::wstring extendedPath(std::wstring_view path, std::wstring_view currentFolder) {
  if (path.empty()) return {};
  if (path.substr(0, kExtendedPrefix.size()) == kExtendedPrefix ||
      path.substr(0, kDevicePrefix.size()) == kDevicePrefix) {
    return std::wstring(path);
  }
  std::wstring slashes(path);
  for (wchar_t& c : slashes) {
    if (c == L'/') c = L'\\';
  }
  std::wstring folder(currentFolder);
  for (wchar_t& c : folder) {
    if (c == L'/') c = L'\\';
  }

  std::optional<AbsolutePath> absolute = splitAbsolute(slashes);
  std::vector<std::wstring_view> components;
  if (!absolute) {
    // Drive-relative ("D:name") keeps the system's own meaning, and a
    // network path without its share is no path to complete.
    if (slashes.size() >= 2 && isDriveLetter(slashes[0]) && slashes[1] == L':') return slashes;
    if (slashes.substr(0, 2) == L"\\\\") return slashes;
    std::optional<AbsolutePath> base = splitAbsolute(folder);
    if (!base) return slashes;
    absolute = AbsolutePath{std::move(base->root), {}};
    // Rooted at "\": the current folder's drive or share; otherwise below
    // the current folder itself.
    if (slashes[0] != L'\\') addComponents(base->rest, components);
    addComponents(slashes, components);
  } else {
    addComponents(absolute->rest, components);
  }
  // The system's own trimming, which the extended form skips: a component
  // ending in one dot loses it, and the last one (unless a separator ends
  // the path) loses every dot and blank at its end; a component of dots
  // only ("...") is a name and stays.
  const bool endsInSeparator = slashes.back() == L'\\';
  std::wstring extended = std::move(absolute->root);
  const std::size_t rootLength = extended.size();
  for (std::size_t i = 0; i < components.size(); ++i) {
    std::wstring_view component = components[i];
    if (component.find_first_not_of(L'.') != std::wstring_view::npos) {
      if (i + 1 == components.size() && !endsInSeparator) {
        while (!component.empty() && (component.back() == L'.' || component.back() == L' ')) component.remove_suffix(1);
      } else if (component.size() >= 2 && component.back() == L'.' && component[component.size() - 2] != L'.') {
        component.remove_suffix(1);
      }
    }
    if (component.empty()) continue;
    extended += L'\\';
    extended += component;
  }
  if (extended.size() == rootLength) extended += L'\\';  // the root itself: "\\?\C:\"
  return extended;
}

}  // namespace platform
