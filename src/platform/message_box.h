// Modal message boxes, shaped after MessageBoxW.
#pragma once

#include <string_view>

#include "platform/window.h"

namespace platform {

constexpr unsigned kMbOk = 0x00000000u;
constexpr unsigned kMbIconInformation = 0x00000040u;
constexpr int kIdOk = 1;

// MessageBoxW(owner, text, caption, type): shows the box and returns when the
// player has closed it, with the id of the button pressed.
int messageBox(WindowHandle owner, std::u16string_view text, std::u16string_view caption, unsigned type);

}  // namespace platform
