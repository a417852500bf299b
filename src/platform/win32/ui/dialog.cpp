// The modal dialog of template 103 and its message routing.
#include <windows.h>

#include "platform/win32/ui/win_handles.h"
#include "platform/window.h"

namespace platform {

namespace {

// What the dialog procedure needs of one modal run. It travels as the
// dialog's initialisation value and is kept in the window's user data, so
// the procedure finds the object for every message after WM_INITDIALOG.
struct ModalRun {
  DialogImpl* dialog;
  WindowHandle* window;  // the object's window slot, filled at WM_INITDIALOG
  std::intptr_t initParam;
};

ModalRun* runOf(HWND window) {
  return reinterpret_cast<ModalRun*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// Handled messages answer TRUE with their result in DWLP_MSGRESULT, except
// WM_INITDIALOG, whose result is the return value itself (TRUE: let the
// dialog manager set the default focus).
INT_PTR handled(HWND window, std::intptr_t result) {
  SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
  return TRUE;
}

INT_PTR CALLBACK dialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* run = reinterpret_cast<ModalRun*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
    *run->window = win32::handleOf(window);
    return static_cast<INT_PTR>(
        run->dialog->processMessage(DialogMessage::InitDialog, static_cast<std::uintptr_t>(run->initParam)));
  }
  ModalRun* run = runOf(window);
  if (run == nullptr) return FALSE;  // messages of the creation, before the object is bound
  switch (message) {
    case WM_CLOSE:
      return handled(window, run->dialog->processMessage(DialogMessage::Close, 0));
    case WM_DESTROY:
      return handled(window, run->dialog->processMessage(DialogMessage::Destroy, 0));
    case WM_TIMER:
      return handled(window, run->dialog->processMessage(DialogMessage::Timer, wParam));
    case WM_NCDESTROY:
      // The window is gone; nothing may reach the object through it any more.
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

std::intptr_t DialogImpl::doModal(WindowHandle owner, std::intptr_t initParam) {
  if (window_ != nullptr) return -1;  // already running
  ModalRun run{this, &window_, initParam};
  const INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kDialogTemplateId),
                                         win32::hwndOf(owner), dialogProcedure,
                                         reinterpret_cast<LPARAM>(&run));
  window_ = nullptr;
  return result;
}

bool DialogImpl::endDialog(std::intptr_t result) {
  return window_ != nullptr && EndDialog(win32::hwndOf(window_), result) != FALSE;
}

bool setTimer(WindowHandle window, std::uintptr_t id, unsigned milliseconds) {
  return SetTimer(win32::hwndOf(window), id, milliseconds, nullptr) != 0;
}

bool killTimer(WindowHandle window, std::uintptr_t id) {
  return KillTimer(win32::hwndOf(window), id) != FALSE;
}

}  // namespace platform
