#include "platform/posix/reg_export.h"

#include <algorithm>
#include <cstddef>
#include <unordered_map>

#include "platform/registry.h"
#include "text/encoding.h"

namespace platform::regfile {

namespace {

constexpr std::string_view kUnicodeHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kAnsiHeader = "REGEDIT4";

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool startsWithName(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && sameName(text.substr(0, prefix.size()), prefix);
}

// `inner` is `outer` or a key below it.
bool isWithin(std::string_view inner, std::string_view outer) {
  if (sameName(inner, outer)) return true;
  return inner.size() > outer.size() && startsWithName(inner, outer) && inner[outer.size()] == '\\';
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && (isBlank(text.back()) || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = lowerAscii(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// 1 to 8 hex digits, the whole of `text`.
std::optional<std::uint32_t> parseHexNumber(std::string_view text) {
  if (text.empty() || text.size() > 8) return std::nullopt;
  std::uint32_t number = 0;
  for (char c : text) {
    int digit = hexDigit(c);
    if (digit < 0) return std::nullopt;
    number = number << 4 | static_cast<std::uint32_t>(digit);
  }
  return number;
}

// "xx,xx,..." with optional blanks around each byte; empty gives no bytes.
std::optional<std::string> parseHexBytes(std::string_view text) {
  std::string bytes;
  text = trimmed(text);
  if (text.empty()) return bytes;
  while (true) {
    std::size_t comma = text.find(',');
    std::string_view item = trimmed(text.substr(0, comma));
    if (item.size() > 2) return std::nullopt;
    std::optional<std::uint32_t> byte = parseHexNumber(item);
    if (!byte) return std::nullopt;
    bytes.push_back(static_cast<char>(*byte));
    if (comma == std::string_view::npos) return bytes;
    text.remove_prefix(comma + 1);
  }
}

// A quoted text starting at text[0] == '"', with the escapes \\ and \".
// Moves `text` past the closing quote.
std::optional<std::string> parseQuoted(std::string_view& text) {
  if (text.empty() || text.front() != '"') return std::nullopt;
  std::string out;
  for (std::size_t i = 1; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      text.remove_prefix(i + 1);
      return out;
    }
    if (c == '\\') {
      if (i + 1 >= text.size() || (text[i + 1] != '\\' && text[i + 1] != '"')) return std::nullopt;
      c = text[++i];
    }
    out.push_back(c);
  }
  return std::nullopt;
}

bool isTextType(std::uint32_t type) { return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz; }

// The decoded file line by line, without keeping a list of them all. CR
// before LF is dropped by trimmed().
class Lines {
 public:
  explicit Lines(std::string_view text) : rest_(text) {}
  bool done() const { return done_; }
  std::string_view peek() const { return rest_.substr(0, rest_.find('\n')); }
  std::string_view next() {
    std::string_view line = peek();
    if (line.size() == rest_.size()) {
      done_ = true;
      rest_ = {};
    } else {
      rest_.remove_prefix(line.size() + 1);
    }
    return line;
  }

 private:
  std::string_view rest_;
  bool done_ = false;
};

struct DecodedFile {
  std::string text;
  bool unicodeDialect = false;
};

std::optional<DecodedFile> decode(std::string_view bytes) {
  DecodedFile file;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    file.text = utf16leToUtf8(bytes.substr(2));
  } else if (bytes.size() >= 2 && bytes[0] == 'W' && bytes[1] == '\0') {
    // UTF-16LE that lost its BOM; only the 5.00 header starts this way.
    file.text = utf16leToUtf8(bytes);
  } else {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    file.text.assign(bytes);
  }
  std::string_view first = trimmed(std::string_view(file.text).substr(0, file.text.find('\n')));
  if (first == kUnicodeHeader) {
    file.unicodeDialect = true;
  } else if (first != kAnsiHeader) {
    return std::nullopt;
  }
  return file;
}

// What one value line asks for.
struct ValueLine {
  enum class Kind { Set, Delete, Unreadable } kind = Kind::Unreadable;
  Value value;
};

class KeyReader {
 public:
  KeyReader(std::string_view keyPath, bool unicodeDialect) : keyPath_(keyPath), unicode_(unicodeDialect) {}

  // Reads the lines after the header.
  void run(Lines& lines) {
    while (!lines.done()) {
      std::string_view line = trimmed(lines.next());
      if (line.empty() || line.front() == ';') continue;
      if (line.front() == '[') {
        enterSection(line);
      } else if (line.front() == '"' || line.front() == '@') {
        readValueLine(line, lines);
      }
      // Anything else is no part of the format and is skipped.
    }
  }

  std::optional<std::vector<Value>> result() && {
    if (!exists_) return std::nullopt;
    std::vector<Value> values;
    values.reserve(values_.size());
    for (auto& [folded, value] : values_) values.push_back(std::move(value));
    return values;
  }

 private:
  void enterSection(std::string_view line) {
    inKey_ = false;
    if (line.back() != ']') return;  // not a section: what follows belongs nowhere
    std::string_view name = trimmed(line.substr(1, line.size() - 2));
    if (!name.empty() && name.front() == '-') {
      if (isWithin(keyPath_, trimmed(name.substr(1)))) {
        exists_ = false;
        values_.clear();
      }
      return;
    }
    if (isWithin(name, keyPath_)) exists_ = true;
    inKey_ = sameName(name, keyPath_);
  }

  // Reads a value line, taking the continuation lines of hex data after it.
  void readValueLine(std::string_view line, Lines& lines) {
    std::string_view rest = line;
    std::optional<std::string> name;
    if (rest.front() == '@') {
      name = std::string();
      rest.remove_prefix(1);
    } else {
      name = parseQuoted(rest);
    }
    rest = trimmed(rest);
    const bool hasData = !rest.empty() && rest.front() == '=';
    if (hasData) rest = trimmed(rest.substr(1));

    std::string joined;
    bool truncated = false;
    if (startsWithName(rest, "hex")) {
      joined.assign(rest);
      while (!joined.empty() && joined.back() == '\\') {
        joined.pop_back();
        std::string_view next = lines.done() ? std::string_view() : trimmed(lines.peek());
        // A line that starts a section or a value is not a continuation, so
        // a truncated value does not swallow it.
        if (next.empty() || next.front() == '[' || next.front() == '"' || next.front() == '@' || next.front() == ';') {
          truncated = true;
          break;
        }
        joined.append(next);
        lines.next();
      }
      rest = joined;
    }
    if (!name || !inKey_) return;

    ValueLine parsed;
    if (hasData && !truncated) parsed = parseData(rest);
    parsed.value.name = std::move(*name);
    apply(std::move(parsed));
  }

  ValueLine parseData(std::string_view data) const {
    ValueLine line;
    if (data == "-") {
      line.kind = ValueLine::Kind::Delete;
      return line;
    }
    if (!data.empty() && data.front() == '"') {
      std::optional<std::string> text = parseQuoted(data);
      if (!text || !trimmed(data).empty()) return line;
      line.value.type = kRegSz;
      line.value.data = std::move(*text);
      line.value.data.push_back('\0');
      line.kind = ValueLine::Kind::Set;
      return line;
    }
    if (startsWithName(data, "dword:")) {
      std::optional<std::uint32_t> number = parseHexNumber(data.substr(6));
      if (!number) return line;
      for (int shift = 0; shift < 32; shift += 8) line.value.data.push_back(static_cast<char>(*number >> shift & 0xFF));
      line.value.type = kRegDword;
      line.kind = ValueLine::Kind::Set;
      return line;
    }
    std::optional<std::uint32_t> type;
    if (startsWithName(data, "hex:")) {
      type = kRegBinary;
      data.remove_prefix(4);
    } else if (startsWithName(data, "hex(")) {
      std::size_t close = data.find("):");
      if (close == std::string_view::npos) return line;
      type = parseHexNumber(data.substr(4, close - 4));
      data.remove_prefix(close + 2);
    }
    if (!type) return line;
    std::optional<std::string> bytes = parseHexBytes(data);
    if (!bytes) return line;
    line.value.type = *type;
    line.value.data = std::move(*bytes);
    if (isTextType(*type)) {
      if (unicode_) line.value.data = utf16leToUtf8(line.value.data);
      if (line.value.data.empty() || line.value.data.back() != '\0') line.value.data.push_back('\0');
    }
    line.kind = ValueLine::Kind::Set;
    return line;
  }

  void apply(ValueLine line) {
    std::string folded = line.value.name;
    std::transform(folded.begin(), folded.end(), folded.begin(), lowerAscii);
    if (line.kind == ValueLine::Kind::Set) {
      values_[folded] = std::move(line.value);
    } else {
      values_.erase(folded);
    }
  }

  std::string_view keyPath_;
  bool unicode_;
  bool exists_ = false;
  bool inKey_ = false;
  // By name folded to lower case: a file may hold very many values.
  std::unordered_map<std::string, Value> values_;
};

}  // namespace

bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lowerAscii(x) == lowerAscii(y); });
}

std::string utf16leToUtf8(std::string_view bytes) {
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t k = 0; k < units.size(); ++k) {
    units[k] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * k]) |
                                     static_cast<unsigned char>(bytes[2 * k + 1]) << 8);
  }
  return text::utf8FromUtf16(units);
}

std::optional<std::vector<Value>> readKey(std::string_view fileBytes, std::string_view keyPath) {
  std::optional<DecodedFile> file = decode(fileBytes);
  if (!file) return std::nullopt;
  KeyReader reader(keyPath, file->unicodeDialect);
  Lines lines(file->text);
  lines.next();  // the header
  reader.run(lines);
  return std::move(reader).result();
}

}  // namespace platform::regfile
