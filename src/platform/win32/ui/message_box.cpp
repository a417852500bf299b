// Message boxes.
#include <windows.h>

#include "platform/message_box.h"
#include "platform/win32/ui/box_placement.h"
#include "platform/win32/ui/win_handles.h"

namespace platform {

namespace win32 {

BoxPlacement boxPlacement(HWND owner, unsigned type) {
  if (owner != nullptr && IsWindowVisible(owner) != FALSE && IsIconic(owner) == FALSE) return {owner, type};
  // A box owned by a hidden or minimised window has no taskbar button and
  // may open behind whatever the player is looking at. Without an owner it
  // has its own button; task-modal keeps the thread's other windows
  // disabled as an owner would be; and it comes to the front.
  return {nullptr, type | MB_TASKMODAL | MB_SETFOREGROUND | MB_TOPMOST};
}

}  // namespace win32

int messageBox(WindowHandle owner, std::u16string_view text, std::u16string_view caption, unsigned type) {
  const win32::BoxPlacement placement = win32::boxPlacement(win32::hwndOf(owner), type);
  return MessageBoxW(placement.owner, win32::wideText(text).c_str(), win32::wideText(caption).c_str(), placement.type);
}

}  // namespace platform
