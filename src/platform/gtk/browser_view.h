// The state behind one embedded browser: the WebKit view, the page's element
// registry protocol, the script-object member ids and the mouse-down handlers
// bound to page elements. Shared by the browser, document, element and script
// objects, which all outlive the view safely: once the view is destroyed
// every call fails instead of touching it.
#pragma once

#include <webkit2/webkit2.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/automation.h"
#include "platform/browser.h"
#include "platform/gtk/page_call.h"

namespace platform::gtk {

class BrowserView : public std::enable_shared_from_this<BrowserView> {
 public:
  // Only create() makes views, always owned by a shared_ptr.
  class Key {
    friend BrowserView;
    Key() = default;
  };
  BrowserView(Key, WebKitWebView* view);

  // Creates a web view filling the host container and takes a reference to it.
  static std::shared_ptr<BrowserView> create(GtkWidget* host);
  ~BrowserView();
  BrowserView(const BrowserView&) = delete;
  BrowserView& operator=(const BrowserView&) = delete;

  // The view, or null once it has been destroyed.
  WebKitWebView* view() const { return alive_ ? view_ : nullptr; }
  // A document exists once the view has committed its first load.
  bool hasDocument() const { return alive_ && committed_; }

  // Runs `body` in the page (see callPageScript). Element operations put the
  // registry prelude in front of their body so that `put(object)` and
  // `get(handle)` are available.
  ScriptCall call(std::string_view body, GVariant* arguments);
  ScriptCall callWithRegistry(std::string_view body, GVariant* arguments);

  // Member ids of the script object: stable per name for the life of the view.
  DISPID idOfName(const std::string& name);
  const std::string* nameOfId(DISPID id) const;

  // Keeps the handler for the element with this registry handle until the
  // view navigates to another document or goes away. A null handler drops
  // the binding.
  void bindMouseDown(const std::string& handle, ComPtr<IDispatch> handler);

  // Navigations the view may follow (see WebBrowser2::setNavigationFilter).
  void setNavigationFilter(WebBrowser2::NavigationFilter filter) { navigationFilter_ = std::move(filter); }

  // The name under which the page posts mouse-down messages.
  static constexpr const char* kMouseDownChannel = "glimmerholdMouseDown";

 private:
  static void onLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self);
  static void onDestroy(GtkWidget* widget, gpointer self);
  static gboolean onDecidePolicy(WebKitWebView* view, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                 gpointer self);
  static gboolean onContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*, gpointer) {
    return TRUE;  // the launcher page has no context menu
  }
  // A refused address that fails before it answers (a host that does not
  // resolve) would otherwise put the engine's error page in the launcher
  // page's place.
  static gboolean onLoadFailed(WebKitWebView* view, WebKitLoadEvent event, gchar* failingUri, GError* error,
                               gpointer self);
  // alert, confirm and prompt are answered at once, as if dismissed: an
  // engine dialog would hold the page, and with it every page call, until
  // the player found and closed it.
  static gboolean onScriptDialog(WebKitWebView*, WebKitScriptDialog*, gpointer) { return TRUE; }
  static void onScriptMessage(WebKitUserContentManager* manager, WebKitJavascriptResult* message, gpointer self);
  void invokeMouseDown(const std::string& handle);
  void dropBindings();
  void disconnect();

  WebKitWebView* view_;
  WebKitUserContentManager* manager_;
  bool alive_ = true;
  bool committed_ = false;
  std::vector<gulong> viewSignals_;
  gulong messageSignal_ = 0;
  std::map<std::string, ComPtr<IDispatch>> mouseDownHandlers_;
  std::map<std::string, DISPID, std::less<>> ids_;
  std::vector<std::string> names_;
  WebBrowser2::NavigationFilter navigationFilter_;
};

}  // namespace platform::gtk
