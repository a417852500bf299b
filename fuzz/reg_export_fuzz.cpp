// The registry export reader on any file: the settings key it yields must be
// well formed, found whatever the case of its path, and the same whether the
// file is narrow or UTF-16.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "check.h"
#include "platform/posix/reg_export.h"
#include "platform/registry.h"

namespace {

using platform::regfile::Value;

constexpr std::string_view kKey = "HKEY_CURRENT_USER\\Software\\Quarvo\\Glimmerhold";
constexpr std::string_view kKeyOtherCase = "hkey_current_user\\SOFTWARE\\quarvo\\gLIMMERHOLD";

std::vector<Value> sortedByName(std::vector<Value> values) {
  std::sort(values.begin(), values.end(), [](const Value& a, const Value& b) { return a.name < b.name; });
  return values;
}

bool same(const std::optional<std::vector<Value>>& a, const std::optional<std::vector<Value>>& b) {
  if (a.has_value() != b.has_value()) return false;
  if (!a) return true;
  std::vector<Value> x = sortedByName(*a);
  std::vector<Value> y = sortedByName(*b);
  if (x.size() != y.size()) return false;
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (x[i].name != y[i].name || x[i].type != y[i].type || x[i].data != y[i].data) return false;
  }
  return true;
}

std::string folded(std::string text) {
  for (char& c : text) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  return text;
}

// Well-formed UTF-8: shortest forms, no surrogates, nothing past U+10FFFF.
bool isUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    auto lead = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    std::uint32_t point = lead;
    if (lead >= 0x80) {
      if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        point = lead & 0x1F;
      } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        point = lead & 0x0F;
      } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        point = lead & 0x07;
      } else {
        return false;
      }
    }
    if (extra > text.size() - i - 1) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      point = point << 6 | (next & 0x3F);
    }
    static constexpr std::uint32_t kShortest[] = {0, 0x80, 0x800, 0x10000};
    if (point < kShortest[extra] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

void checkValues(const std::vector<Value>& values) {
  std::set<std::string> names;
  for (const Value& value : values) {
    // One value per name, names compared without regard to case.
    FUZZ_CHECK(names.insert(folded(value.name)).second);
    if (value.type == platform::kRegSz || value.type == platform::kRegExpandSz || value.type == platform::kRegMultiSz) {
      FUZZ_CHECK(!value.data.empty() && value.data.back() == '\0');
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::optional<std::vector<Value>> values = platform::regfile::readKey(bytes, kKey);
  if (values) checkValues(*values);
  FUZZ_CHECK(same(values, platform::regfile::readKey(bytes, kKeyOtherCase)));

  // A narrow ASCII file, written out as UTF-16LE with its mark, says the
  // same. ("W" and a 0 byte already read as UTF-16 without the mark.)
  const bool ascii =
      std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii && !(size >= 2 && bytes[0] == 'W' && bytes[1] == '\0')) {
    std::string wide = "\xFF\xFE";
    for (char c : bytes) {
      wide += c;
      wide += '\0';
    }
    FUZZ_CHECK(same(values, platform::regfile::readKey(wide, kKey)));
  }

  // UTF-16 becomes well-formed UTF-8 whatever its units.
  FUZZ_CHECK(isUtf8(platform::regfile::utf16leToUtf8(bytes)));
  return 0;
}
