// The text of a download-error box, formatted from a catalogue text that the
// launcher page supplies. Page text is data, never a format string in full.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace update {

// The longest text a download-error box shows, terminator included.
constexpr std::size_t kErrorTextUnits = 128;

// Formats a page-supplied text: "%%" is "%", the first "%i" or "%d" is
// `value` when one is given, and every other "%" stands as written; the
// result is cut to 127 characters. Page text is never a format beyond that.
std::u16string formatErrorText(std::u16string_view format, const std::int32_t* value);

}  // namespace update
