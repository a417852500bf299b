// The launcher's arguments: the process command line without the program
// name, as the C runtime hands it to a GUI program's entry.
#pragma once

#include <string_view>

namespace platform::win32 {

// Skips the program name the way the C runtime does (up to the closing quote
// when it starts with one, otherwise up to the first blank or control
// character), then the blanks after it. What is left is returned unchanged,
// trailing blanks included.
std::wstring_view argumentsOf(std::wstring_view commandLine);

}  // namespace platform::win32
