// The browser seam: the host window class and the WebBrowser control in it.
#include "platform/browser.h"

#include <windows.h>
#include <exdisp.h>

#include <utility>

#include "platform/automation.h"
#include "platform/win32/ui/browser_host.h"
#include "platform/win32/ui/navigation_events.h"
#include "platform/win32/ui/page_objects.h"
#include "platform/win32/ui/win_handles.h"

namespace platform {

namespace {

class WebBrowser final : public WebBrowser2 {
 public:
  explicit WebBrowser(ComPtr<IWebBrowser2> browser) : browser_(std::move(browser)) {}
  ~WebBrowser() override { events_.disconnect(); }

  HRESULT navigate(std::u16string_view url) override {
    Bstr address(url);
    if (address.get() == nullptr) return E_OUTOFMEMORY;
    Variant flags;
    Variant targetFrame;
    Variant postData;
    Variant headers;
    return browser_->Navigate(address.get(), flags.get(), targetFrame.get(), postData.get(), headers.get());
  }

  HRESULT document(std::shared_ptr<HtmlDocument2>* document2, std::shared_ptr<HtmlDocument3>* document3) override {
    if (document2 != nullptr) document2->reset();
    if (document3 != nullptr) document3->reset();
    ComPtr<IDispatch> document;
    const HRESULT result = browser_->get_Document(document.put());
    if (FAILED(result)) return result;
    if (!document) return E_FAIL;  // nothing loaded yet
    win32::wrapDocument(document.get(), document2, document3);
    return result;
  }

  void setNavigationFilter(NavigationFilter filter) override {
    events_.disconnect();
    if (!filter) return;
    ComPtr<IUnknown> identity;
    if (FAILED(browser_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(identity.put())))) return;
    ComPtr<IDispatch> sink = win32::makeNavigationSink(identity.get(), std::move(filter));
    events_.connect(browser_.get(), sink.get());
  }

 private:
  ComPtr<IWebBrowser2> browser_;
  win32::NavigationConnection events_;
};

const wchar_t* hostClassName() { return reinterpret_cast<const wchar_t*>(kHostWindowClass); }

}  // namespace

bool atlAxWinInit() {
  WNDCLASSEXW hostClass{};
  hostClass.cbSize = sizeof(hostClass);
  hostClass.style = CS_DBLCLKS;
  hostClass.lpfnWndProc = win32::browserHostProcedure;
  hostClass.hInstance = GetModuleHandleW(nullptr);
  hostClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  hostClass.lpszClassName = hostClassName();
  // Registering twice is no failure: the class is there.
  return RegisterClassExW(&hostClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

void atlAxWinTerm() { UnregisterClassW(hostClassName(), GetModuleHandleW(nullptr)); }

WindowHandle createBrowserHostWindow(WindowHandle parent, const Rect& rect) {
  HWND window = CreateWindowExW(0, hostClassName(), L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                                static_cast<int>(rect.left), static_cast<int>(rect.top),
                                static_cast<int>(rect.right - rect.left), static_cast<int>(rect.bottom - rect.top),
                                win32::hwndOf(parent), nullptr, GetModuleHandleW(nullptr), nullptr);
  return win32::handleOf(window);
}

HRESULT createWebBrowser(WindowHandle hostWindow, std::unique_ptr<WebBrowser2>* browser) {
  browser->reset();
  CLSID classId;
  HRESULT result = CLSIDFromString(reinterpret_cast<LPCOLESTR>(kWebBrowserClassId), &classId);
  if (FAILED(result)) return result;
  // The engine mode comes from the page's own X-UA-Compatible declaration
  // (docs/publishing.md): nothing is written to the registry, where the
  // value would hold for every program of this file name.
  ComPtr<IWebBrowser2> control;
  result = win32::createHostedControl(win32::hwndOf(hostWindow), classId, IID_IWebBrowser2,
                                      reinterpret_cast<void**>(control.put()));
  if (FAILED(result)) return result;
  // No engine dialog of its own (script errors, security prompts) ever
  // stands between the player and the page.
  control->put_Silent(VARIANT_TRUE);
  *browser = std::make_unique<WebBrowser>(std::move(control));
  return result;
}

}  // namespace platform
