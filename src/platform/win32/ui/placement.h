// The arithmetic of centring a window, apart from the calls that measure
// and move it.
#pragma once

#include "platform/window.h"

namespace platform::win32 {

// Where a window of the given size goes: centred on `center`, then shifted
// into `workArea`, the left and top edges winning when it is larger.
Point centeredOrigin(long width, long height, const Rect& center, const Rect& workArea);

}  // namespace platform::win32
