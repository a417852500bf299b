#include "update/error_text.h"

#include <string>

namespace update {

namespace {

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

std::u16string formatErrorText(std::u16string_view format, const std::int32_t* value) {
  constexpr std::size_t kLongest = kErrorTextUnits - 1;
  std::u16string text;
  // One unit beyond the longest text is gathered, so that the cut below can
  // see whether it would split a character.
  for (std::size_t i = 0; i < format.size() && text.size() <= kLongest; ++i) {
    if (format[i] == u'%' && i + 1 < format.size()) {
      char16_t directive = format[i + 1];
      if (directive == u'%') {
        text += u'%';
        ++i;
        continue;
      }
      if (value != nullptr && (directive == u'i' || directive == u'd')) {
        for (char digit : std::to_string(*value)) text += static_cast<char16_t>(digit);
        value = nullptr;
        ++i;
        continue;
      }
    }
    text += format[i];
  }
  if (text.size() > kLongest) {
    // A character outside the basic plane takes two units; it is kept whole
    // or left out whole, never cut to half a character.
    std::size_t cut = kLongest;
    if (isHighSurrogate(text[cut - 1]) && isLowSurrogate(text[cut])) --cut;
    text.resize(cut);
  }
  return text;
}

}  // namespace update
