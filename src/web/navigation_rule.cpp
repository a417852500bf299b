#include "web/navigation_rule.h"

#include <optional>

namespace web {

namespace {

char16_t lowered(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool sameText(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lowered(a[i]) != lowered(b[i])) return false;
  }
  return true;
}

bool startsWith(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && sameText(text.substr(0, prefix.size()), prefix);
}

// The host of an http or https address: the authority without the user
// part and the port. Nothing for other schemes or an empty host.
std::optional<std::u16string_view> webHost(std::u16string_view address) {
  std::size_t start = 0;
  if (startsWith(address, u"http://")) {
    start = 7;
  } else if (startsWith(address, u"https://")) {
    start = 8;
  } else {
    return std::nullopt;
  }
  // Browsers read "\" as "/" in these addresses.
  std::u16string_view authority = address.substr(start, address.find_first_of(u"/\\?#", start) - start);
  if (const std::size_t user = authority.rfind(u'@'); user != std::u16string_view::npos) {
    authority.remove_prefix(user + 1);
  }
  std::u16string_view host = authority.substr(0, authority.rfind(u':'));
  // An IPv6 literal keeps its colons inside the brackets.
  if (!authority.empty() && authority.front() == u'[') host = authority.substr(0, authority.find(u']') + 1);
  if (host.empty()) return std::nullopt;
  return host;
}

}  // namespace

bool launcherNavigationAllowed(std::u16string_view pageAddress, std::u16string_view target, bool topFrame,
                               bool errorPageExpected) {
  if (!topFrame) return true;
  if (startsWith(target, u"javascript:")) return true;
  if (errorPageExpected && (startsWith(target, u"res://") || startsWith(target, u"about:"))) return true;
  const std::optional<std::u16string_view> pageHost = webHost(pageAddress);
  const std::optional<std::u16string_view> targetHost = webHost(target);
  return pageHost && targetHost && sameText(*pageHost, *targetHost);
}

}  // namespace web
