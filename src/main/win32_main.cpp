// The process entry of the Windows launcher.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include "platform/win32/ui/command_line.h"
#include "platform/win32/ui/win_handles.h"
#include "shell/launcher.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_WIN95_CLASSES;
  InitCommonControlsEx(&controls);
  // The WebBrowser control needs OLE on this thread, in a single-threaded
  // apartment; without it the page simply never appears.
  const HRESULT ole = OleInitialize(nullptr);
  const int code = shell::launcherMain(platform::win32::portableText(platform::win32::argumentsOf(GetCommandLineW())));
  if (SUCCEEDED(ole)) OleUninitialize();
  return code;
}
