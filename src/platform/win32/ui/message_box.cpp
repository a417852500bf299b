// Message boxes.
#include <windows.h>

#include "platform/message_box.h"
#include "platform/win32/ui/win_handles.h"

namespace platform {

int messageBox(WindowHandle owner, std::u16string_view text, std::u16string_view caption, unsigned type) {
  return MessageBoxW(win32::hwndOf(owner), win32::wideText(text).c_str(), win32::wideText(caption).c_str(), type);
}

}  // namespace platform
