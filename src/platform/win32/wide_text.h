// The launcher's texts are UTF-8; the Windows calls it makes take UTF-16.
// The conversions are the portable ones (text/encoding.h), in wchar_t.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The UTF-16 form of a UTF-8 text; empty when the text is empty or not
// well-formed UTF-8 (so a malformed name reaches no file at all).
std::wstring wideText(std::string_view utf8);

// The UTF-8 form of a UTF-16 text; an unpaired surrogate becomes U+FFFD.
std::string utf8Text(std::wstring_view utf16);

}  // namespace platform
