// The launcher page's address and the body's size attributes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/browser.h"

namespace web {

// "http://" + page host + "/instalador.php?lang=" + the first two letters of
// the language, lower-cased.
std::u16string pageAddress(std::string_view language);

// The page's stated client size: the attribute's number (C "wcstol" rules,
// 0 without digits), or the fallback when the attribute is absent. Values
// outside 0..kMaxPageDimension are held to that range.
constexpr long kMaxPageDimension = 8192;
long pageDimension(const std::optional<std::u16string>& attribute, long fallback);

// The body element's attribute, when it is a text.
std::optional<std::u16string> bodyAttribute(platform::HtmlElement* body, std::u16string_view name);

}  // namespace web
