// The launcher's texts are UTF-8; the Windows calls it makes take UTF-16.
// The conversions are the portable ones (text/encoding.h), in wchar_t. And
// the form of a path the wide file calls get.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The UTF-16 form of a UTF-8 text; empty when the text is empty or not
// well-formed UTF-8 (so a malformed name reaches no file at all).
std::wstring wideText(std::string_view utf8);

// The UTF-8 form of a UTF-16 text; an unpaired surrogate becomes U+FFFD.
std::string utf8Text(std::wstring_view utf16);

// The extended-length form of a path, which the wide file calls take up to
// 32,767 characters long on every Windows, with no MAX_PATH limit and no
// policy to switch on: "\\?\" and the absolute path ("\\?\UNC\server\share\..."
// for a network path). The system does not normalise such a path, so this
// does what it would have done: "/" becomes "\", a relative path or one
// rooted at "\" is made absolute against `currentFolder`, repeated
// separators and "." go, ".." takes the folder before it (never the root).
// A path already in the "\\?\" or "\\.\" form goes as it is, and so does one
// that cannot be made absolute (a drive-relative "D:name", or a relative
// path against a current folder that is not absolute); empty stays empty.
std::wstring extendedPath(std::wstring_view path, std::wstring_view currentFolder);

}  // namespace platform
