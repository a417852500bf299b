#include "platform/win32/wide_text.h"

#include <optional>

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

}  // namespace platform
