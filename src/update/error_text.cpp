#include "update/error_text.h"

#include <string>

std::u16string formatErrorText(std::u16string_view format, const std::int32_t* value) {
  std::u16string text;
  for (std::size_t i = 0; i < format.size() && text.size() < kErrorTextUnits - 1; ++i) {
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
  if (text.size() > kErrorTextUnits - 1) text.resize(kErrorTextUnits - 1);
  return text;
}
