// The host window of the WebBrowser control and the least OLE container the
// control needs: a client site that places it in place, inside the host
// window, without a frame's menus, toolbars or accelerators.
#pragma once

#include <windows.h>
#include <ole2.h>

#include "platform/automation.h"

namespace platform::win32 {

// The window procedure of the "AtlAxWin110" class: the window owns one
// container, made at WM_CREATE and closed at WM_DESTROY, and keeps the
// control as large as its client area.
LRESULT CALLBACK browserHostProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Creates the control of `classId` in the host window, in place and active,
// and asks it for the interface `iid`. Fails when the window is not a host
// window or already holds a control.
HRESULT createHostedControl(HWND hostWindow, REFCLSID classId, REFIID iid, void** control);

}  // namespace platform::win32
