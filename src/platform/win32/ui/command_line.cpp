#include "platform/win32/ui/command_line.h"

namespace platform::win32 {

namespace {

// The runtime counts every character up to the space as a blank.
bool isBlank(wchar_t character) { return character <= L' '; }

}  // namespace

std::wstring_view argumentsOf(std::wstring_view commandLine) {
  std::size_t at = 0;
  if (!commandLine.empty() && commandLine.front() == L'"') {
    // A quoted name ends at the next quote, blanks and all; an unclosed quote
    // swallows the whole line.
    const std::size_t closing = commandLine.find(L'"', 1);
    at = closing == std::wstring_view::npos ? commandLine.size() : closing + 1;
  } else {
    while (at < commandLine.size() && !isBlank(commandLine[at])) ++at;
  }
  // Text glued to the closing quote ("a"b) counts as arguments, as in the runtime.
  while (at < commandLine.size() && commandLine[at] != L'\0' && isBlank(commandLine[at])) ++at;
  return commandLine.substr(at);
}

}  // namespace platform::win32
