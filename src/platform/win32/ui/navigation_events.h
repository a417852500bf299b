// The WebBrowser control's navigation events, answered by the browser
// seam's navigation filter.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <ole2.h>

#include "platform/automation.h"
#include "platform/browser.h"

namespace platform::win32 {

// A DWebBrowserEvents2 sink: BeforeNavigate2 asks the filter (the top frame
// is the navigation whose pDisp is the control itself) and cancels what it
// refuses; NewWindow2 and NewWindow3 are always cancelled. `browser` is the
// control's identity (its IUnknown), compared, never called or held.
ComPtr<IDispatch> makeNavigationSink(IUnknown* browser, WebBrowser2::NavigationFilter filter);

// Keeps a sink connected to the control's DWebBrowserEvents2 connection
// point, and disconnects it when destroyed.
class NavigationConnection {
 public:
  NavigationConnection() = default;
  ~NavigationConnection() { disconnect(); }
  NavigationConnection(const NavigationConnection&) = delete;
  NavigationConnection& operator=(const NavigationConnection&) = delete;

  HRESULT connect(IUnknown* control, IDispatch* sink);
  void disconnect();

 private:
  ComPtr<IConnectionPoint> point_;
  DWORD cookie_ = 0;
};

}  // namespace platform::win32
