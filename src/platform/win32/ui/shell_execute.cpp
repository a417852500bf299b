// Opening links with the desktop's handler.
// windows.h first: shellapi.h uses what it defines.
#include <windows.h>

#include <shellapi.h>

#include "platform/shell_execute.h"
#include "platform/win32/ui/win_handles.h"

namespace platform {

void shellOpen(std::u16string_view target) {
  // The text goes as far as its first 0, like any C string the shell takes.
  ShellExecuteW(nullptr, L"open", win32::wideText(target).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace platform
