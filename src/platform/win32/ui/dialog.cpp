// The modal dialog of template 103 and its message routing.
#include <windows.h>

#include "platform/process.h"
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
  bool ended = false;
  std::intptr_t result = 0;
};

// The application icon (107) at one of the two sizes the shell asks for:
// the large one for Alt+Tab, the small one for the taskbar and title.
class WindowIcon {
 public:
  WindowIcon(int widthMetric, int heightMetric)
      : icon_(static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kApplicationIconId), IMAGE_ICON,
                                            GetSystemMetrics(widthMetric), GetSystemMetrics(heightMetric),
                                            LR_DEFAULTCOLOR))) {}
  ~WindowIcon() {
    if (icon_ != nullptr) DestroyIcon(icon_);
  }
  WindowIcon(const WindowIcon&) = delete;
  WindowIcon& operator=(const WindowIcon&) = delete;
  HICON get() const { return icon_; }

 private:
  HICON icon_;
};

// The launcher is per-monitor aware (its manifest): on a monitor of another
// scale the dialog keeps its size in pixels, the size of the page it holds,
// which is laid out in pixels. Windows 10 1703 and later would otherwise
// resize a dialog from its template and move its children on such a change.
// Earlier Windows have no such call and no such resizing.
void keepSizeAcrossScales(HWND dialog) {
  using SetBehavior = BOOL(WINAPI*)(HWND, DIALOG_DPI_CHANGE_BEHAVIORS, DIALOG_DPI_CHANGE_BEHAVIORS);
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  if (user32 == nullptr) return;
  const auto setBehavior =
      reinterpret_cast<SetBehavior>(reinterpret_cast<void*>(GetProcAddress(user32, "SetDialogDpiChangeBehavior")));
  if (setBehavior != nullptr) setBehavior(dialog, DDC_DISABLE_ALL, DDC_DISABLE_ALL);
}

// The dialog's private wake message (postWake).
constexpr UINT kWakeMessage = WM_APP + 1;

ModalRun* runOf(HWND window) { return reinterpret_cast<ModalRun*>(GetWindowLongPtrW(window, GWLP_USERDATA)); }

// Handled messages answer TRUE with their result in DWLP_MSGRESULT, except
// WM_INITDIALOG, whose result is the return value itself (TRUE: let the
// dialog manager set the default focus).
INT_PTR handled(HWND window, std::intptr_t result) {
  SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
  return TRUE;
}

INT_PTR routeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* run = reinterpret_cast<ModalRun*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
    *run->window = win32::handleOf(window);
    // Loaded once for the process; the window only borrows them.
    static WindowIcon large(SM_CXICON, SM_CYICON);
    static WindowIcon small(SM_CXSMICON, SM_CYSMICON);
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(large.get()));
    SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small.get()));
    return static_cast<INT_PTR>(
        run->dialog->processMessage(DialogMessage::InitDialog, static_cast<std::uintptr_t>(run->initParam)));
  }
  ModalRun* run = runOf(window);
  if (run == nullptr) return FALSE;  // messages of the creation, before the object is bound
  switch (message) {
    case WM_CLOSE: return handled(window, run->dialog->processMessage(DialogMessage::Close, 0));
    case WM_DESTROY: return handled(window, run->dialog->processMessage(DialogMessage::Destroy, 0));
    case WM_TIMER: return handled(window, run->dialog->processMessage(DialogMessage::Timer, wParam));
    case kWakeMessage:
      // A wake that arrives once the dialog is ending reaches nothing.
      if (run->ended) return handled(window, 0);
      return handled(window, run->dialog->processMessage(DialogMessage::Wake, wParam));
    case WM_NCDESTROY:
      // The window is gone; nothing may reach the object through it any more.
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      return FALSE;
    default: return FALSE;
  }
}

// The boundary between the launcher and user32: no C++ exception may unwind
// into the system's frames (on 32-bit Windows the unwinder cannot pass them
// and the process would end in terminate). The page calls absorb their own
// out-of-memory error; anything else arrives here in the middle of a step
// of the launcher -- a tick half done -- and the launcher ends, as every
// fatal condition ends it (exit code 0), with no box, which would need the
// memory that just ran out. The installation is as after a kill: what was
// finished is recorded and the next start goes on from there.
INT_PTR CALLBACK dialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    return routeMessage(window, message, wParam, lParam);
  } catch (...) {
    exitProcess(0);
  }
  return FALSE;
}

}  // namespace

// Not DialogBoxParamW: its modal loop shows the dialog the first time the
// queue is empty, whatever the template says, which flashed a blank window
// of the template's size (and restored a minimised one) before the page was
// there. Created with CreateDialogParamW the dialog appears only when the
// launcher shows it; the loop below is the modal loop otherwise.
std::intptr_t DialogImpl::doModal(WindowHandle owner, std::intptr_t initParam) {
  if (window_ != nullptr) return -1;  // already running
  ModalRun run{this, &window_, initParam};
  HWND ownerWindow = win32::hwndOf(owner);
  const bool ownerWasEnabled = ownerWindow != nullptr && IsWindowEnabled(ownerWindow) != FALSE;
  HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kDialogTemplateId), ownerWindow,
                                   dialogProcedure, reinterpret_cast<LPARAM>(&run));
  if (dialog == nullptr) {
    window_ = nullptr;
    return -1;
  }
  keepSizeAcrossScales(dialog);
  if (ownerWasEnabled) EnableWindow(ownerWindow, FALSE);

  MSG message;
  bool quit = false;
  while (!run.ended) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0 || got == -1) {
      quit = got == 0;
      break;
    }
    if (IsDialogMessageW(dialog, &message) == FALSE) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  // The owner first, so that activation goes back to it, then the dialog.
  if (ownerWasEnabled) EnableWindow(ownerWindow, TRUE);
  DestroyWindow(dialog);
  window_ = nullptr;
  // A quit request belongs to whoever runs the outer loop.
  if (quit) PostQuitMessage(static_cast<int>(message.wParam));
  return run.ended ? run.result : -1;
}

bool DialogImpl::endDialog(std::intptr_t result) {
  if (window_ == nullptr) return false;
  HWND dialog = win32::hwndOf(window_);
  ModalRun* run = runOf(dialog);
  if (run == nullptr) return false;
  run->ended = true;
  run->result = result;
  // Wakes the loop, which ends once the current message has been handled.
  PostMessageW(dialog, WM_NULL, 0, 0);
  return true;
}

bool setTimer(WindowHandle window, std::uintptr_t id, unsigned milliseconds) {
  return SetTimer(win32::hwndOf(window), id, milliseconds, nullptr) != 0;
}

bool killTimer(WindowHandle window, std::uintptr_t id) { return KillTimer(win32::hwndOf(window), id) != FALSE; }

// PostMessageW to a window that is destroyed fails, and to a null window
// would post to the calling thread's queue: neither posts a wake.
bool postWake(WindowHandle window, std::uintptr_t id) {
  HWND dialog = win32::hwndOf(window);
  return dialog != nullptr && PostMessageW(dialog, kWakeMessage, id, 0) != FALSE;
}

}  // namespace platform
