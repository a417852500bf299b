// The three forms the launcher's texts take: UTF-8 (names, paths, settings),
// UTF-16 (the page, the dialogs and the Windows calls) and Latin-1 bytes (the
// update server's side, which is bytes). Every conversion between them lives
// here, so that each form means the same in every layer and backend.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace text {

// The UTF-16 form of a UTF-8 text. A byte that does not start a well-formed
// sequence (cut short, overlong, a surrogate, past U+10FFFF) becomes U+FFFD
// and the next byte is read afresh, so a malformed name still shows, never
// cut short. NULs are kept.
std::u16string utf16FromUtf8(std::string_view utf8);

// The UTF-16 form of a well-formed UTF-8 text, or nullopt when any byte is
// not part of a well-formed sequence: for texts that name things (paths),
// where a replaced letter would name something else.
std::optional<std::u16string> utf16FromWellFormedUtf8(std::string_view utf8);

// The UTF-8 form of a UTF-16 text. An unpaired surrogate becomes U+FFFD, so
// a malformed text still arrives as something readable instead of being
// dropped whole. NULs are kept.
std::string utf8FromUtf16(std::u16string_view utf16);

// Each byte widened to the UTF-16 unit of the same value: Latin-1 read as
// it is.
std::u16string utf16FromLatin1(std::string_view latin1);

// Each unit narrowed to its low byte: a Latin-1 text comes back as it was, a
// letter above U+00FF loses its high byte.
std::string latin1FromUtf16(std::u16string_view utf16);

// The UTF-8 form of Latin-1 bytes: one byte below 0x80, two from there.
std::string utf8FromLatin1(std::string_view latin1);

// True when every byte is part of a well-formed UTF-8 sequence (shortest
// forms, no surrogates, nothing past U+10FFFF).
bool isWellFormedUtf8(std::string_view text);

// The length in bytes (1 to 4) of the well-formed UTF-8 sequence that starts
// at text[at], or 0 when none does there. The one UTF-8 validity rule: the
// conversions above and every name check use it.
std::size_t utf8SequenceLength(std::string_view text, std::size_t at);

// The UTF-8 form of Windows-1252 bytes, the code page of Western Windows
// systems: Latin-1 but for 0x80..0x9F, which hold letters and signs there
// (0x80 is the euro sign, 0x8A "Š", 0x9F "Ÿ"). The five bytes that code page
// leaves undefined become the control characters of the same value, as
// Windows reads them.
std::string utf8FromWindows1252(std::string_view bytes);

}  // namespace text
