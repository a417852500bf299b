// The embedded browser: a WebKit view in a host container of the dialog.
#include "platform/browser.h"

#include <algorithm>
#include <utility>

#include "platform/gtk/browser_view.h"
#include "platform/gtk/page_objects.h"
#include "platform/gtk/widgets.h"
#include "text/encoding.h"

namespace platform {

namespace gtk {

namespace {

// Elements and collections of the page are named by handles into a registry
// that lives in the page's window object. The token makes handles of one
// document meaningless in the next: a new document has a new window object,
// hence a new registry with another token.
constexpr std::string_view kRegistryPrelude = R"JS(
const registry = window.__glimmerholdElements || (() => {
  const created = {
    token: Math.random().toString(36).slice(2) + Date.now().toString(36),
    objects: [],
    handles: new WeakMap(),
  };
  Object.defineProperty(window, '__glimmerholdElements', {value: created});
  return created;
})();
const put = (object) => {
  if (object === null || object === undefined) return null;
  let index = registry.handles.get(object);
  if (index === undefined) {
    index = registry.objects.push(object) - 1;
    registry.handles.set(object, index);
  }
  return registry.token + ':' + index;
};
const get = (handle) => {
  const parts = String(handle).split(':');
  const object = parts.length === 2 && parts[0] === registry.token
      ? registry.objects[Number(parts[1])] : undefined;
  if (object === undefined) throw new Error('not an object of this document');
  return object;
};
)JS";

// The first member id handed out; ids below are left to the automation
// runtime's reserved values (0 is the default member).
constexpr DISPID kFirstMemberId = 1000;

}  // namespace

std::shared_ptr<BrowserView> BrowserView::create(GtkWidget* host) {
  WebKitUserContentManager* manager = webkit_user_content_manager_new();
  webkit_user_content_manager_register_script_message_handler(manager, kMouseDownChannel);
  GtkWidget* widget = webkit_web_view_new_with_user_content_manager(manager);
  g_object_unref(manager);  // the view holds it
  g_object_ref_sink(widget);
  // The launcher page is a flat page of text and gradients. With the GPU
  // compositing path, a view on an X server without direct rendering (Xvfb,
  // remote desktops, machines without a GPU driver) paints nothing at all;
  // software painting works everywhere and is fast enough for this page.
  webkit_settings_set_hardware_acceleration_policy(webkit_web_view_get_settings(WEBKIT_WEB_VIEW(widget)),
                                                   WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  gtk_box_pack_start(GTK_BOX(host), widget, TRUE, TRUE, 0);
  gtk_widget_show(widget);
  return std::make_shared<BrowserView>(Key(), WEBKIT_WEB_VIEW(widget));
}

BrowserView::BrowserView(Key, WebKitWebView* view)
    : view_(view), manager_(webkit_web_view_get_user_content_manager(view)) {
  g_object_ref(manager_);
  g_signal_connect(view_, "load-changed", G_CALLBACK(onLoadChanged), this);
  g_signal_connect(view_, "destroy", G_CALLBACK(onDestroy), this);
  g_signal_connect(view_, "decide-policy", G_CALLBACK(onDecidePolicy), this);
  g_signal_connect(view_, "context-menu", G_CALLBACK(onContextMenu), this);
  g_signal_connect(view_, "load-failed", G_CALLBACK(onLoadFailed), this);
  g_signal_connect(view_, "script-dialog", G_CALLBACK(onScriptDialog), this);
  const std::string signal = std::string("script-message-received::") + kMouseDownChannel;
  g_signal_connect(manager_, signal.c_str(), G_CALLBACK(onScriptMessage), this);
}

BrowserView::~BrowserView() {
  disconnect();
  if (alive_) {
    webkit_user_content_manager_unregister_script_message_handler(manager_, kMouseDownChannel);
  }
  dropBindings();
  g_object_unref(manager_);
  g_object_unref(view_);
}

void BrowserView::disconnect() {
  g_signal_handlers_disconnect_by_data(view_, this);
  g_signal_handlers_disconnect_by_data(manager_, this);
}

void BrowserView::onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
  if (event != WEBKIT_LOAD_COMMITTED) return;
  auto* browser = static_cast<BrowserView*>(self);
  browser->committed_ = true;
  // The old document's elements are gone, and with them their handlers.
  browser->dropBindings();
}

gboolean BrowserView::onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                     gpointer self) {
  auto* browser = static_cast<BrowserView*>(self);
  if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
    webkit_policy_decision_ignore(decision);  // no other windows
    return TRUE;
  }
  // A navigation action does not tell the top frame from the frames in the
  // page; the response does. The request has gone out by then, but the
  // document in the view is still the launcher page when the response is
  // refused, and the load ends there.
  if (type != WEBKIT_POLICY_DECISION_TYPE_RESPONSE || !browser->navigationFilter_) return FALSE;
  auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
  if (!webkit_response_policy_decision_is_main_frame_main_resource(response)) return FALSE;
  WebKitURIRequest* request = webkit_response_policy_decision_get_request(response);
  const gchar* uri = request != nullptr ? webkit_uri_request_get_uri(request) : nullptr;
  if (!browser->navigationFilter_(NavigationEvent::Before, text::utf16FromUtf8(uri != nullptr ? uri : ""), true)) {
    webkit_policy_decision_ignore(decision);
    return TRUE;
  }
  return FALSE;
}

gboolean BrowserView::onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* failingUri, GError*, gpointer self) {
  auto* browser = static_cast<BrowserView*>(self);
  if (!browser->navigationFilter_) return FALSE;
  // TRUE: no error page; the document in the view stays the launcher page.
  return browser->navigationFilter_(NavigationEvent::Failed,
                                    text::utf16FromUtf8(failingUri != nullptr ? failingUri : ""), true)
             ? FALSE
             : TRUE;
}

void BrowserView::onDestroy(GtkWidget*, gpointer self) {
  auto* browser = static_cast<BrowserView*>(self);
  browser->alive_ = false;
  browser->disconnect();
  browser->dropBindings();
}

void BrowserView::onScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* message, gpointer self) {
  JSCValue* value = webkit_javascript_result_get_js_value(message);
  if (value == nullptr || !jsc_value_is_string(value)) return;  // not one of ours
  gchar* text = jsc_value_to_string(value);
  std::string handle = text != nullptr ? text : "";
  g_free(text);
  // Run the handler the way a posted window message would run: from the main
  // loop, never inside a page call nor inside WebKit's message dispatch.
  std::weak_ptr<BrowserView> weak = static_cast<BrowserView*>(self)->weak_from_this();
  postUiWork([weak, handle = std::move(handle)] {
    if (std::shared_ptr<BrowserView> browser = weak.lock()) browser->invokeMouseDown(handle);
  });
}

void BrowserView::invokeMouseDown(const std::string& handle) {
  auto found = mouseDownHandlers_.find(handle);
  if (found == mouseDownHandlers_.end()) return;  // stale, unbound, or forged
  // Our own reference: the handler may end the dialog, navigate, or drop
  // the binding while it runs.
  ComPtr<IDispatch> handler = found->second;
  DISPPARAMS noArguments{nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  handler->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, &noArguments, &result, nullptr, nullptr);
  VariantClear(&result);
}

void BrowserView::dropBindings() {
  // Released outside the map: a Release may run arbitrary code.
  std::map<std::string, ComPtr<IDispatch>> released = std::exchange(mouseDownHandlers_, {});
  released.clear();
}

ScriptCall BrowserView::call(std::string_view body, GVariant* arguments) {
  return callPageScript(view(), body, arguments);
}

ScriptCall BrowserView::callWithRegistry(std::string_view body, GVariant* arguments) {
  std::string script(kRegistryPrelude);
  script += body;
  return callPageScript(view(), script, arguments);
}

DISPID BrowserView::idOfName(const std::string& name) {
  auto found = ids_.find(name);
  if (found != ids_.end()) return found->second;
  const DISPID id = kFirstMemberId + static_cast<DISPID>(names_.size());
  names_.push_back(name);
  ids_.emplace(name, id);
  return id;
}

const std::string* BrowserView::nameOfId(DISPID id) const {
  if (id < kFirstMemberId) return nullptr;
  const auto index = static_cast<std::size_t>(id - kFirstMemberId);
  return index < names_.size() ? &names_[index] : nullptr;
}

void BrowserView::bindMouseDown(const std::string& handle, ComPtr<IDispatch> handler) {
  ComPtr<IDispatch> replaced;
  if (handler) {
    replaced = std::exchange(mouseDownHandlers_[handle], std::move(handler));
  } else if (auto found = mouseDownHandlers_.find(handle); found != mouseDownHandlers_.end()) {
    replaced = std::move(found->second);
    mouseDownHandlers_.erase(found);
  }
}

namespace {

class WebBrowser final : public WebBrowser2 {
 public:
  explicit WebBrowser(std::shared_ptr<BrowserView> view) : view_(std::move(view)) {}

  HRESULT navigate(std::u16string_view url) override {
    WebKitWebView* view = view_->view();
    if (view == nullptr) return E_FAIL;
    if (url.empty()) return E_INVALIDARG;
    webkit_web_view_load_uri(view, text::utf8FromUtf16(url).c_str());
    return S_OK;
  }

  HRESULT document(std::shared_ptr<HtmlDocument2>* document2, std::shared_ptr<HtmlDocument3>* document3) override {
    if (!view_->hasDocument()) return E_FAIL;
    makeDocument(view_, document2, document3);
    return S_OK;
  }

  void setNavigationFilter(NavigationFilter filter) override { view_->setNavigationFilter(std::move(filter)); }

 private:
  std::shared_ptr<BrowserView> view_;
};

// Set by atlAxWinInit: host windows can only be made while the host class
// is registered, as with any window class.
bool gHostClassRegistered = false;

constexpr const char* kHostKey = "glimmerhold-browser-host";

}  // namespace

}  // namespace gtk

bool atlAxWinInit() {
  gtk::gHostClassRegistered = true;
  return true;
}

void atlAxWinTerm() { gtk::gHostClassRegistered = false; }

WindowHandle createBrowserHostWindow(WindowHandle parent, const Rect& rect) {
  GtkWidget* clientArea = gtk::clientAreaOf(gtk::widgetOf(parent));
  if (!gtk::gHostClassRegistered || clientArea == nullptr) return nullptr;
  GtkWidget* host = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  g_object_set_data(G_OBJECT(host), gtk::kHostKey, GINT_TO_POINTER(1));
  gtk_widget_set_size_request(host, static_cast<gint>(std::max(0L, rect.right - rect.left)),
                              static_cast<gint>(std::max(0L, rect.bottom - rect.top)));
  gtk_layout_put(GTK_LAYOUT(clientArea), host, static_cast<gint>(rect.left), static_cast<gint>(rect.top));
  gtk_widget_show(host);
  return gtk::handleOf(host);
}

HRESULT createWebBrowser(WindowHandle hostWindow, std::unique_ptr<WebBrowser2>* browser) {
  if (browser == nullptr) return E_POINTER;
  browser->reset();
  GtkWidget* host = gtk::widgetOf(hostWindow);
  if (host == nullptr || g_object_get_data(G_OBJECT(host), gtk::kHostKey) == nullptr) return E_INVALIDARG;
  GList* children = gtk_container_get_children(GTK_CONTAINER(host));
  const bool occupied = children != nullptr;
  g_list_free(children);
  if (occupied) return E_FAIL;  // one control per host window
  *browser = std::make_unique<gtk::WebBrowser>(gtk::BrowserView::create(host));
  return S_OK;
}

}  // namespace platform
