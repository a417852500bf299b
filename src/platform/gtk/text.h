// Text conversions between the launcher's UTF-16 and GLib's UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace platform::gtk {

// UTF-8 of a UTF-16 text. An unpaired surrogate becomes U+FFFD, so a
// malformed text still reaches GTK or the page as something readable instead
// of being dropped whole.
std::string utf8Of(std::u16string_view text);

// UTF-16 of a UTF-8 text; malformed sequences become U+FFFD.
std::u16string utf16Of(std::string_view text);

}  // namespace platform::gtk
