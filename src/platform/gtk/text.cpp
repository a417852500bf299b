#include "platform/gtk/text.h"

#include <glib.h>

namespace platform::gtk {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void appendUtf8(std::string* out, char32_t code) {
  char buffer[6];
  const gint length = g_unichar_to_utf8(static_cast<gunichar>(code), buffer);
  out->append(buffer, static_cast<std::size_t>(length));
}

void appendUtf16(std::u16string* out, char32_t code) {
  if (code < 0x10000) {
    out->push_back(static_cast<char16_t>(code));
    return;
  }
  code -= 0x10000;
  out->push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
  out->push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
}

}  // namespace

std::string utf8Of(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (isHighSurrogate(unit) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
      appendUtf8(&out, 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                           (static_cast<char32_t>(text[i + 1]) - 0xDC00));
      ++i;
    } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
      appendUtf8(&out, kReplacement);
    } else {
      appendUtf8(&out, unit);
    }
  }
  return out;
}

std::u16string utf16Of(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  const char* position = text.data();
  const char* const end = text.data() + text.size();
  while (position < end) {
    if (*position == '\0') {  // GLib refuses embedded NULs; keep them as they are
      out.push_back(u'\0');
      ++position;
      continue;
    }
    const gunichar code = g_utf8_get_char_validated(position, end - position);
    if (code == static_cast<gunichar>(-1) || code == static_cast<gunichar>(-2)) {
      appendUtf16(&out, kReplacement);
      ++position;
      continue;
    }
    appendUtf16(&out, code);
    position = g_utf8_next_char(position);
  }
  return out;
}

}  // namespace platform::gtk
