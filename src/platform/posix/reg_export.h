// Reading one key out of a registry export file, the text format that the
// Windows registry editor writes and imports (".reg").
//
// Two dialects exist, told apart by their first line:
//   "Windows Registry Editor Version 5.00"  usually UTF-16LE with a BOM; the
//                                          hex(N) data of text values holds
//                                          UTF-16LE code units;
//   "REGEDIT4"                              narrow text; hex(N) data of text
//                                          values holds narrow bytes.
// Either dialect is accepted in either encoding (UTF-16LE with a BOM, or
// narrow, with or without a UTF-8 BOM), with CRLF or LF line ends.
//
// Narrow texts on POSIX are UTF-8: every UTF-16 text of the file comes back
// as UTF-8, the way RegQueryValueExA converts to the system code page.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::regfile {

struct Value {
  std::string name;        // "" is the key's default value ("@=")
  std::uint32_t type = 0;  // REG_SZ, REG_DWORD, ... as in registry.h
  // The bytes RegQueryValueExA hands out: for the text types (REG_SZ,
  // REG_EXPAND_SZ, REG_MULTI_SZ) narrow text that always ends in a 0 byte.
  std::string data;
};

// The values of the key `keyPath` (for example
// "HKEY_CURRENT_USER\Software\Quarvo\Glimmerhold") as an import of the file
// would leave them, or nullopt when the file does not create that key or is
// not a registry export at all.
//
// Import rules kept here:
//  - key and value names compare without regard to ASCII case;
//  - sections naming the same key add up, a later value replacing an earlier
//    one of the same name; a section for a sub key also creates the key;
//  - "[-KEY]" deletes KEY and everything below it, so a deletion of the key
//    or of one of its parents forgets what came before; a later section can
//    create it again;
//  - "NAME"=- deletes a value.
// A value line that cannot be read (bad escape, bad hex, missing quote,
// truncated continuation) makes that value missing, also when an earlier
// line had defined it. A line that names nothing readable is skipped.
std::optional<std::vector<Value>> readKey(std::string_view fileBytes, std::string_view keyPath);

// UTF-16LE code units to UTF-8. An odd last byte is dropped; an unpaired
// surrogate becomes U+FFFD.
std::string utf16leToUtf8(std::string_view bytes);

// Name comparison as the registry does it, for ASCII letters.
bool sameName(std::string_view a, std::string_view b);

}  // namespace platform::regfile
