// How the seams' portable types map onto Win32 ones in this backend.
//
// A WindowHandle is the HWND itself, and the portable UTF-16 text
// (char16_t) has the size and encoding of Windows' wchar_t.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "platform/window.h"

namespace platform::win32 {

inline HWND hwndOf(WindowHandle handle) { return reinterpret_cast<HWND>(handle); }
inline WindowHandle handleOf(HWND window) { return reinterpret_cast<WindowHandle>(window); }

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide text is UTF-16");

// A 0-terminated copy, for the calls that take a C string.
inline std::wstring wideText(std::u16string_view text) {
  return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

inline std::u16string portableText(std::wstring_view text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

}  // namespace platform::win32
