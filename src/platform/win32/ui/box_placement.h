// Where a message box goes: with its owner while the owner is on screen,
// otherwise on its own, in front.
#pragma once

#include <windows.h>

namespace platform::win32 {

struct BoxPlacement {
  HWND owner;
  unsigned type;
};

// The given owner while it is visible and not minimised; otherwise no owner
// and the type with MB_TASKMODAL | MB_SETFOREGROUND | MB_TOPMOST.
BoxPlacement boxPlacement(HWND owner, unsigned type);

}  // namespace platform::win32
