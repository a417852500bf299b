// The launcher's names are UTF-8; the page and the dialogs take UTF-16.
#pragma once

#include <string>
#include <string_view>

// The UTF-16 form of a UTF-8 text. A byte that does not start a well-formed
// sequence becomes U+FFFD, so a malformed name still shows, never cut short.
std::u16string utf16FromUtf8(std::string_view text);
