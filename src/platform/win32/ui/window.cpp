// Window placement, visibility and size.
#include <windows.h>

#include "platform/win32/ui/placement.h"
#include "platform/win32/ui/win_handles.h"
#include "platform/window.h"

namespace platform {

namespace win32 {

Point centeredOrigin(long width, long height, const Rect& center, const Rect& workArea) {
  Point origin{(center.left + center.right) / 2 - width / 2, (center.top + center.bottom) / 2 - height / 2};
  if (origin.x + width > workArea.right) origin.x = workArea.right - width;
  if (origin.x < workArea.left) origin.x = workArea.left;
  if (origin.y + height > workArea.bottom) origin.y = workArea.bottom - height;
  if (origin.y < workArea.top) origin.y = workArea.top;
  return origin;
}

}  // namespace win32

namespace {

Rect rectOf(const RECT& rect) { return Rect{rect.left, rect.top, rect.right, rect.bottom}; }

}  // namespace

WindowHandle activeWindow() { return win32::handleOf(GetActiveWindow()); }

bool windowRect(WindowHandle window, Rect* rect) {
  RECT measured;
  if (GetWindowRect(win32::hwndOf(window), &measured) == FALSE) return false;
  *rect = rectOf(measured);
  return true;
}

bool screenToClient(WindowHandle window, Point* point) {
  POINT converted{point->x, point->y};
  if (ScreenToClient(win32::hwndOf(window), &converted) == FALSE) return false;
  *point = Point{converted.x, converted.y};
  return true;
}

// A top-level window centres over its owner while that owner is shown and
// not minimised, otherwise over the work area of the nearest monitor; it
// always stays within that work area.
bool centerWindow(WindowHandle window) {
  HWND self = win32::hwndOf(window);
  RECT own;
  if (GetWindowRect(self, &own) == FALSE) return false;

  HWND center = GetWindow(self, GW_OWNER);
  if (center != nullptr) {
    const LONG_PTR style = GetWindowLongPtrW(center, GWL_STYLE);
    if ((style & WS_VISIBLE) == 0 || (style & WS_MINIMIZE) != 0) center = nullptr;
  }
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  if (GetMonitorInfoW(MonitorFromWindow(center != nullptr ? center : self, MONITOR_DEFAULTTONEAREST), &monitor) ==
      FALSE) {
    return false;
  }
  RECT centerRect = monitor.rcWork;
  if (center != nullptr && GetWindowRect(center, &centerRect) == FALSE) return false;

  const Point origin =
      win32::centeredOrigin(own.right - own.left, own.bottom - own.top, rectOf(centerRect), rectOf(monitor.rcWork));
  return SetWindowPos(self, nullptr, origin.x, origin.y, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE) != FALSE;
}

bool showWindow(WindowHandle window, ShowCommand command) {
  int show = SW_HIDE;
  switch (command) {
    case ShowCommand::Hide: show = SW_HIDE; break;
    case ShowCommand::Normal: show = SW_SHOWNORMAL; break;
    case ShowCommand::Minimized: show = SW_SHOWMINIMIZED; break;
  }
  // ShowWindow answers whether the window was visible before, not whether
  // the call worked; only a window that is not one fails.
  HWND self = win32::hwndOf(window);
  if (IsWindow(self) == FALSE) return false;
  ShowWindow(self, show);
  return true;
}

bool resizeClient(WindowHandle window, int width, int height) {
  HWND self = win32::hwndOf(window);
  if (IsWindow(self) == FALSE) return false;
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(self, GWL_STYLE));
  const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(self, GWL_EXSTYLE));
  const BOOL hasMenu = (style & WS_CHILD) == 0 && GetMenu(self) != nullptr;
  RECT frame{0, 0, width, height};
  if (AdjustWindowRectEx(&frame, style, hasMenu, exStyle) == FALSE) return false;
  if (IsIconic(self) != FALSE || IsZoomed(self) != FALSE) {
    // SetWindowPos would size the minimised (or maximised) window, and the
    // restored one would come back at its old size: the size goes into the
    // placement the window is restored to.
    WINDOWPLACEMENT placement{};
    placement.length = sizeof(placement);
    if (GetWindowPlacement(self, &placement) == FALSE) return false;
    placement.rcNormalPosition.right = placement.rcNormalPosition.left + (frame.right - frame.left);
    placement.rcNormalPosition.bottom = placement.rcNormalPosition.top + (frame.bottom - frame.top);
    placement.showCmd = IsIconic(self) != FALSE ? SW_SHOWMINNOACTIVE : SW_SHOWMAXIMIZED;
    if (IsWindowVisible(self) == FALSE) placement.showCmd = SW_HIDE;
    return SetWindowPlacement(self, &placement) != FALSE;
  }
  return SetWindowPos(self, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                      SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW) != FALSE;
}

}  // namespace platform
