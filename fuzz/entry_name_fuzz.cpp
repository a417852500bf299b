// Entry names from a server's list: what they decode to, whether the decoded
// name may be used as a file below the installation folder and why not, and
// the list's spelling of a name written back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "check.h"
#include "text/encoding.h"
#include "update/entry_names.h"
#include "update/version_list.h"

using update::decodeEntryName;
using update::EncodedEntryName;
using update::encodeEntryName;
using update::entryNameRefusal;
using update::isInstallableEntryName;
using update::isInstallRelativeName;
using update::NameRefusal;
using update::nameRefusalText;
using update::serverFileName;
using update::textOfNameBytes;

namespace {

// The escapes replaced one at a time, each until none is left, searching
// from the start after every replacement: slow, and plainly right.
std::string decodeByReplacing(std::string_view name) {
  static constexpr struct {
    const char* escape;
    const char* letter;  // in UTF-8
  } kEscapes[] = {{"%20", " "},        {"%21", "!"},        {"%f1", "\xc3\xb1"}, {"%e1", "\xc3\xa1"},
                  {"%e9", "\xc3\xa9"}, {"%ed", "\xc3\xad"}, {"%f3", "\xc3\xb3"}, {"%fa", "\xc3\xba"}};
  std::string text(name);
  for (const auto& e : kEscapes) {
    for (std::size_t at = text.find(e.escape); at != std::string::npos; at = text.find(e.escape)) {
      text.replace(at, 3, e.letter);
    }
  }
  return text;
}

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// A component Windows may read as the parent folder: "..", or dots and
// blanks that it trims down to nothing but dots, two or more of them.
bool namesParent(std::string_view component) {
  if (component == "..") return true;
  if (component.size() < 2) return false;
  return component.find_first_not_of(". ") == std::string_view::npos;
}

void checkStaysInside(std::string_view name) {
  FUZZ_CHECK(!name.empty());
  FUZZ_CHECK(!isSeparator(name.front()));
  FUZZ_CHECK(name.find(':') == std::string_view::npos);
  FUZZ_CHECK(name.find('\0') == std::string_view::npos);
  std::size_t start = 0;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || isSeparator(name[i])) {
      FUZZ_CHECK(!namesParent(name.substr(start, i - start)));
      start = i + 1;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view name(reinterpret_cast<const char*>(data), size);
  std::string decoded = decodeEntryName(name);

  // The escapes are ASCII: the rest of the name is its text (UTF-8 as it is,
  // any other bytes as Windows-1252), and the escapes decode within it.
  FUZZ_CHECK(text::isWellFormedUtf8(decoded));
  FUZZ_CHECK(decoded == decodeByReplacing(textOfNameBytes(name)));
  if (text::isWellFormedUtf8(name)) FUZZ_CHECK(decoded.size() <= name.size());
  // A decoded name holds no escape that a second decoding would find.
  FUZZ_CHECK(decodeEntryName(decoded) == decoded);
  if (name.find('%') == std::string_view::npos) FUZZ_CHECK(decoded == textOfNameBytes(name));

  if (isInstallRelativeName(decoded)) checkStaysInside(decoded);
  // The installable names are a part of those that stay inside, and every
  // refusal has its reason.
  const NameRefusal refusal = entryNameRefusal(decoded);
  FUZZ_CHECK(isInstallableEntryName(decoded) == (refusal == NameRefusal::None));
  if (refusal == NameRefusal::None) FUZZ_CHECK(isInstallRelativeName(decoded));
  FUZZ_CHECK(!nameRefusalText(refusal).empty());
  // Refusing is about the name, not about where it sits: a folder prefix
  // that stays inside changes nothing.
  if (!decoded.empty() && !isSeparator(decoded.front())) {
    FUZZ_CHECK(isInstallRelativeName(decoded) == isInstallRelativeName("maps/" + decoded));
  }

  // What the publishing tool writes for a name, the launcher installs under
  // that very name, and accepts.
  const EncodedEntryName encoded = encodeEntryName(decoded);
  if (encoded.refusal == NameRefusal::None) {
    FUZZ_CHECK(!encoded.name.empty() && encoded.name.size() <= update::kMaxEntryName);
    FUZZ_CHECK(decodeEntryName(encoded.name) == decoded);
    FUZZ_CHECK(isInstallableEntryName(decoded));
    FUZZ_CHECK(serverFileName(encoded.name).size() <= encoded.name.size());
  } else {
    FUZZ_CHECK(encoded.name.empty());
  }
  return 0;
}
