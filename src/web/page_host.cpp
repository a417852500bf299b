#include "web/page_host.h"

#include <algorithm>
#include <cstdlib>

#include "text/encoding.h"

namespace web {

#ifndef GLIMMERHOLD_PAGE_HOST
#define GLIMMERHOLD_PAGE_HOST "127.0.0.1"
#endif

std::u16string pageAddress(std::string_view language) {
  std::u16string address = u"http://";
  address += text::utf16FromLatin1(GLIMMERHOLD_PAGE_HOST);
  address += u"/instalador.php?lang=";
  for (std::size_t i = 0; i < language.size() && i < 2; ++i) {
    char16_t c = static_cast<unsigned char>(language[i]);
    // The C library's lower-casing in its default locale: ASCII letters only.
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    address += c;
  }
  return address;
}

long pageDimension(const std::optional<std::u16string>& attribute, long fallback) {
  if (!attribute) return fallback;
  const std::u16string& text = *attribute;
  std::size_t i = 0;
  auto isSpace = [](char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); };
  while (i < text.size() && isSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  long value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    // Beyond the largest window any screen shows the number stops mattering.
    value = std::min(value * 10 + (text[i] - u'0'), kMaxPageDimension);
  }
  return negative ? 0 : value;
}

std::optional<std::u16string> bodyAttribute(platform::HtmlElement* body, std::u16string_view name) {
  if (body == nullptr) return std::nullopt;
  platform::Variant value;
  if (FAILED(body->getAttribute(name, value.get())) || value.value().vt != VT_BSTR) return std::nullopt;
  return platform::bstrText(value.value().bstrVal);
}

}  // namespace web
