// The embedded browser that shows the launcher page, with exactly the
// operations the launcher needs of it: the host window class (AtlAxWinInit,
// CreateWindowExW of "AtlAxWin110"), the WebBrowser control
// (CAxWindow::CreateControlEx, IWebBrowser2::Navigate / get_Document), the
// document (IHTMLDocument2::get_readyState / get_body, IHTMLDocument::
// get_Script, IHTMLDocument3::getElementById / getElementsByTagName), the
// elements (IHTMLElement::getAttribute / put_onmousedown,
// IHTMLElementCollection::get_length / item), and the page's script object
// as an IDispatch (GetIDsOfNames / Invoke).
//
// Every call runs on the UI thread and is synchronous: a page function has
// run to its end when Invoke returns.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/automation.h"
#include "platform/window.h"

namespace platform {

// The WebBrowser control's class id.
constexpr const char16_t* kWebBrowserClassId = u"{8856F961-340A-11D0-A96B-00C04FD705A2}";
constexpr const char16_t* kHostWindowClass = u"AtlAxWin110";

// What a navigation filter is asked about.
enum class NavigationEvent : std::uint8_t {
  Before,  // BeforeNavigate2: may the view go there?
  Failed,  // NavigateError: may the control show its own error page?
};

// IHTMLElement.
class HtmlElement {
 public:
  virtual ~HtmlElement() = default;
  // getAttribute(name, 0, value): VT_NULL when the attribute is absent,
  // otherwise VT_BSTR with its text. The caller clears the value.
  virtual HRESULT getAttribute(std::u16string_view name, VARIANT* value) = 0;
  // put_onmousedown(handler): handler is VT_DISPATCH. The element keeps a
  // reference to the handler object and calls its Invoke with member 0 when
  // a mouse button goes down over it (or over a child, as the event bubbles).
  virtual HRESULT putOnMouseDown(const VARIANT& handler) = 0;
};

// IHTMLElementCollection.
class HtmlElementCollection {
 public:
  virtual ~HtmlElementCollection() = default;
  virtual HRESULT length(long* count) = 0;
  // item(name, index): the item, or null when it is not an element.
  virtual HRESULT item(const VARIANT& name, const VARIANT& index, std::shared_ptr<HtmlElement>* element) = 0;
};

// IHTMLDocument2 with IHTMLDocument::get_Script.
class HtmlDocument2 {
 public:
  virtual ~HtmlDocument2() = default;
  virtual HRESULT readyState(std::u16string* state) = 0;
  // The page's script object; the caller owns the reference it gets.
  virtual HRESULT script(IDispatch** script) = 0;
  virtual HRESULT body(std::shared_ptr<HtmlElement>* body) = 0;
};

// IHTMLDocument3.
class HtmlDocument3 {
 public:
  virtual ~HtmlDocument3() = default;
  // Finds the element; S_OK with null when there is none.
  virtual HRESULT elementById(std::u16string_view id, std::shared_ptr<HtmlElement>* element) = 0;
  virtual HRESULT elementsByTagName(std::u16string_view tag, std::shared_ptr<HtmlElementCollection>* elements) = 0;
};

// IWebBrowser2.
class WebBrowser2 {
 public:
  virtual ~WebBrowser2() = default;
  // Navigate(url, empty, empty, empty, empty): loading goes on by itself.
  virtual HRESULT navigate(std::u16string_view url) = 0;
  // get_Document, asked for IHTMLDocument2 and IHTMLDocument3: succeeds only
  // once a document exists. Either out pointer may stay null.
  virtual HRESULT document(std::shared_ptr<HtmlDocument2>* document2, std::shared_ptr<HtmlDocument3>* document3) = 0;
  // DWebBrowserEvents2::BeforeNavigate2 and NavigateError, answered for
  // every navigation of the view from now on, redirects included: the filter
  // gets the event, the address and whether the navigation is the top
  // frame's. Before a navigation a false answer cancels it; after one
  // failed, a false answer keeps the control from showing its own error
  // page in its place. Without a filter everything goes. Requests for new
  // windows are always refused.
  using NavigationFilter = std::function<bool(NavigationEvent event, std::u16string_view url, bool topFrame)>;
  virtual void setNavigationFilter(NavigationFilter filter) = 0;
};

// AtlAxWinInit / AtlAxWinTerm: registers and unregisters the host window class.
bool atlAxWinInit();
void atlAxWinTerm();

// CreateWindowExW(0, "AtlAxWin110", "", WS_CHILD | WS_VISIBLE |
// WS_CLIPSIBLINGS | WS_CLIPCHILDREN, rect, parent, no id).
WindowHandle createBrowserHostWindow(WindowHandle parent, const Rect& rect);

// CAxWindow::CreateControlEx(WebBrowser class id, no stream, IID_NULL, no
// sink) on the host window, asked for IWebBrowser2.
HRESULT createWebBrowser(WindowHandle hostWindow, std::unique_ptr<WebBrowser2>* browser);

}  // namespace platform
