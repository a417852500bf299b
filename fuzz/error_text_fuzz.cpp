// The download-error text built from a catalogue text that the page
// supplies: any units, any "%" sequences, with and without a value.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "check.h"
#include "update/error_text.h"

using update::formatErrorText;
using update::kErrorTextUnits;

namespace {

bool isHigh(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLow(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Every surrogate is half of a pair.
bool isWellFormed(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (isHigh(text[i]) && i + 1 < text.size() && isLow(text[i + 1])) {
      ++i;
    } else if (isHigh(text[i]) || isLow(text[i])) {
      return false;
    }
  }
  return true;
}

std::size_t digitsIn(std::u16string_view text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; }));
}

// The whole text formatted first, cut afterwards.
std::u16string formatUncut(std::u16string_view format, const std::int32_t* value) {
  std::u16string text;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format.substr(i, 2) == u"%%") {
      text += u'%';
      ++i;
    } else if (value != nullptr && (format.substr(i, 2) == u"%i" || format.substr(i, 2) == u"%d")) {
      for (char digit : std::to_string(*value)) text += static_cast<char16_t>(digit);
      value = nullptr;
      ++i;
    } else {
      text += format[i];
    }
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Input: one byte whose low bit says whether there is a value, the value
  // in four bytes little-endian, then the format as UTF-16LE.
  if (size < 5) return 0;
  const bool hasValue = (data[0] & 1) != 0;
  const auto value = static_cast<std::int32_t>(std::uint32_t{data[1]} | std::uint32_t{data[2]} << 8 |
                                               std::uint32_t{data[3]} << 16 | std::uint32_t{data[4]} << 24);
  std::u16string format;
  for (std::size_t i = 5; i + 1 < size; i += 2) format += static_cast<char16_t>(data[i] | data[i + 1] << 8);

  const std::u16string text = formatErrorText(format, hasValue ? &value : nullptr);
  FUZZ_CHECK(text.size() < kErrorTextUnits);
  const std::u16string uncut = formatUncut(format, hasValue ? &value : nullptr);
  // A prefix of the whole text, as long as the buffer allows.
  FUZZ_CHECK(uncut.compare(0, text.size(), text) == 0);
  FUZZ_CHECK(text.size() == uncut.size() || text.size() >= kErrorTextUnits - 2);
  // No character is cut in half.
  if (isWellFormed(format)) FUZZ_CHECK(isWellFormed(text));
  // Without a value, no number appears that the page did not write.
  if (!hasValue) FUZZ_CHECK(digitsIn(text) <= digitsIn(format));
  return 0;
}
