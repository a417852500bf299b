// The launcher's one window: a modal, borderless dialog with a small message
// map, shaped after the dialog framework (CDialogImpl over CWindow,
// DialogBoxParamW / EndDialog) and the window calls the dialog makes:
// GetActiveWindow, GetWindowRect, ScreenToClient, CenterWindow, ShowWindow,
// SetWindowPos (client size), SetTimer and KillTimer.
#pragma once

#include <cstdint>

namespace platform {

struct WindowTag;
using WindowHandle = WindowTag*;

struct Rect {
  long left = 0;
  long top = 0;
  long right = 0;
  long bottom = 0;
};

struct Point {
  long x = 0;
  long y = 0;
};

// The dialog template's size in pixels at 96 dots per inch (503 x 419 dialog
// units with the 8-point shell dialog font).
constexpr int kTemplateWidth = 755;
constexpr int kTemplateHeight = 681;
constexpr int kDialogTemplateId = 103;
// The application icon, shown by the window in the taskbar and Alt+Tab.
constexpr int kApplicationIconId = 107;

// The dialog's message map: the messages the launcher handles. Everything
// else is left to the platform's default dialog processing.
enum class DialogMessage {
  InitDialog,  // WM_INITDIALOG
  Close,       // WM_CLOSE: the window system asks the window to close
  Destroy,     // WM_DESTROY
  Timer,       // WM_TIMER, argument: the timer id
  Wake,        // WM_APP + 1, posted by postWake; argument: the wake's id
};

// Stands in for CDialogImpl: owns the dialog window of template 103 while it
// runs modally and routes its messages to processMessage.
class DialogImpl {
 public:
  DialogImpl() = default;
  virtual ~DialogImpl() = default;
  DialogImpl(const DialogImpl&) = delete;
  DialogImpl& operator=(const DialogImpl&) = delete;

  // DialogBoxParamW: creates the dialog (hidden, borderless), sends
  // InitDialog, and runs the modal message loop until endDialog. Returns the
  // value given to endDialog, or -1 when the dialog could not be created.
  // The dialog stays hidden until the launcher shows it.
  std::intptr_t doModal(WindowHandle owner, std::intptr_t initParam);

  // EndDialog: marks the dialog for ending; it closes once the current
  // message has been handled.
  bool endDialog(std::intptr_t result);

  WindowHandle window() const { return window_; }

  // The message-map dispatch. Returns the handler's result.
  virtual std::intptr_t processMessage(DialogMessage message, std::uintptr_t argument) = 0;

 protected:
  WindowHandle window_ = nullptr;
};

enum class ShowCommand {
  Hide = 0,       // SW_HIDE
  Normal = 1,     // SW_SHOWNORMAL: restored and activated
  Minimized = 2,  // SW_SHOWMINIMIZED
};

// GetActiveWindow: the calling thread's active window, or null.
WindowHandle activeWindow();
// GetWindowRect: the window's rectangle in screen coordinates.
bool windowRect(WindowHandle window, Rect* rect);
// ScreenToClient.
bool screenToClient(WindowHandle window, Point* point);
// CWindow::CenterWindow: over a visible, not minimised owner, otherwise in the
// work area of the nearest monitor, kept within that work area.
bool centerWindow(WindowHandle window);
// ShowWindow.
bool showWindow(WindowHandle window, ShowCommand command);
// CWindow::ResizeClient: SetWindowPos with the window size that gives this
// client size, keeping position, Z order and activation, without redrawing.
bool resizeClient(WindowHandle window, int width, int height);
// SetTimer / KillTimer on the window: the timer's ticks reach the window's
// message map as DialogMessage::Timer with the id.
bool setTimer(WindowHandle window, std::uintptr_t id, unsigned milliseconds);
bool killTimer(WindowHandle window, std::uintptr_t id);
// PostMessageW of the dialog's private wake message (WM_APP + 1): callable
// from any thread; the message reaches the dialog's message map on the
// thread that runs the dialog as DialogMessage::Wake with the id, once the
// messages before it are handled. False, and nothing is posted, when there
// is no such running dialog (null, destroyed, or ended). A wake posted while
// the dialog runs but delivered after it ended reaches nothing.
bool postWake(WindowHandle window, std::uintptr_t id);

}  // namespace platform
