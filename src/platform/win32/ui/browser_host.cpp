// The OLE container of the WebBrowser control.
#include "platform/win32/ui/browser_host.h"

#include <docobj.h>
#include <mshtmhst.h>
#include <oleidl.h>

#include <atomic>
#include <new>

#include "platform/automation.h"

namespace platform::win32 {

namespace {

GLIMMERHOLD_COM_CLASS_BEGIN

class BrowserSite;

// The in-place frame: the top-level window the host window sits in (the
// dialog), with no menus, toolbars or status line. An object of its own,
// since its window is not the site's; it lives and dies with the site.
class BrowserFrame final : public IOleInPlaceFrame {
 public:
  BrowserFrame(BrowserSite& site, HWND hostWindow) : site_(site), hostWindow_(hostWindow) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // The dialog, whatever the host window's place in it.
  HWND frameWindow() const { return GetAncestor(hostWindow_, GA_ROOT); }
  STDMETHODIMP GetWindow(HWND* window) override {
    if (window == nullptr) return E_POINTER;
    *window = frameWindow();
    return *window != nullptr ? S_OK : E_FAIL;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
  STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
  STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

 private:
  BrowserSite& site_;
  HWND hostWindow_;
};

// The client site of one control. The host window holds one reference and
// the control holds others while it is attached; the site deletes itself
// when the last one goes, like any COM object.
class BrowserSite final : public IOleClientSite,
                          public IOleInPlaceSite,
                          public IDocHostUIHandler,
                          public IOleCommandTarget {
 public:
  explicit BrowserSite(HWND hostWindow) : hostWindow_(hostWindow), frame_(*this, hostWindow) {}
  BrowserSite(const BrowserSite&) = delete;
  BrowserSite& operator=(const BrowserSite&) = delete;

  HRESULT attach(REFCLSID classId, REFIID iid, void** control);
  void resize();
  void close();

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refCount_); }
  STDMETHODIMP_(ULONG) Release() override {
    const long count = --refCount_;
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
  }

  // IOleClientSite
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
    if (moniker != nullptr) *moniker = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetContainer(IOleContainer** container) override {
    if (container != nullptr) *container = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow of the in-place site: the host window.
  STDMETHODIMP GetWindow(HWND* window) override {
    if (window == nullptr) return E_POINTER;
    *window = hostWindow_;
    return S_OK;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override;
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position, LPRECT clip,
                                LPOLEINPLACEFRAMEINFO frameInfo) override;
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override {
    inPlace_.reset();
    return S_OK;
  }
  STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
  STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
  STDMETHODIMP OnPosRectChange(LPCRECT position) override;

  // IDocHostUIHandler: the page fills the window edge to edge, without the
  // sunken border and scroll bars a document window has by default, and
  // without the engine's context menu (Refresh, View source, Print): S_OK
  // says the host has shown its own, which is none.
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
  STDMETHODIMP ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) override { return S_OK; }
  STDMETHODIMP GetHostInfo(DOCHOSTUIINFO* info) override;
  STDMETHODIMP ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                      IOleInPlaceUIWindow*) override {
    return S_FALSE;
  }
  STDMETHODIMP HideUI() override { return S_OK; }
  STDMETHODIMP UpdateUI() override { return S_OK; }
  STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, const GUID*, DWORD) override { return S_FALSE; }
  STDMETHODIMP GetOptionKeyPath(LPOLESTR* key, DWORD) override {
    if (key != nullptr) *key = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetDropTarget(IDropTarget*, IDropTarget** target) override {
    if (target != nullptr) *target = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetExternal(IDispatch** external) override {
    if (external != nullptr) *external = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP TranslateUrl(DWORD, LPWSTR, LPWSTR* translated) override {
    if (translated != nullptr) *translated = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP FilterDataObject(IDataObject*, IDataObject** filtered) override {
    if (filtered != nullptr) *filtered = nullptr;
    return S_FALSE;
  }

  // IOleCommandTarget: the engine asks its host before it shows a page's
  // script error; the answer "continue running scripts", given here, keeps
  // its box away. Page errors are the page's own business.
  STDMETHODIMP QueryStatus(const GUID* group, ULONG, OLECMD*, OLECMDTEXT*) override {
    return isDocHostGroup(group) ? OLECMDERR_E_NOTSUPPORTED : OLECMDERR_E_UNKNOWNGROUP;
  }
  STDMETHODIMP Exec(const GUID* group, DWORD command, DWORD, VARIANT*, VARIANT* out) override;

 private:
  virtual ~BrowserSite() = default;

  RECT clientRect() const {
    RECT rect{};
    GetClientRect(hostWindow_, &rect);
    return rect;
  }

  static bool isDocHostGroup(const GUID* group) {
    // CGID_DocHostCommandHandler, which MinGW's import libraries do not carry.
    static constexpr GUID kDocHostCommandHandler = {
        0xf38bc242, 0xb950, 0x11d1, {0x89, 0x18, 0x00, 0xc0, 0x4f, 0xc2, 0xc8, 0x36}};
    return group != nullptr && IsEqualGUID(*group, kDocHostCommandHandler);
  }

  std::atomic<long> refCount_{1};  // the host window's reference
  HWND hostWindow_;
  BrowserFrame frame_;
  ComPtr<IOleObject> control_;
  ComPtr<IOleInPlaceObject> inPlace_;
};

GLIMMERHOLD_COM_CLASS_END

STDMETHODIMP BrowserSite::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleClientSite)) {
    *object = static_cast<IOleClientSite*>(this);
  } else if (IsEqualIID(riid, IID_IOleWindow) || IsEqualIID(riid, IID_IOleInPlaceSite)) {
    *object = static_cast<IOleInPlaceSite*>(this);
  } else if (IsEqualIID(riid, IID_IDocHostUIHandler)) {
    *object = static_cast<IDocHostUIHandler*>(this);
  } else if (IsEqualIID(riid, IID_IOleCommandTarget)) {
    *object = static_cast<IOleCommandTarget*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP BrowserFrame::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IOleWindow) &&
      !IsEqualIID(riid, IID_IOleInPlaceUIWindow) && !IsEqualIID(riid, IID_IOleInPlaceFrame)) {
    return E_NOINTERFACE;
  }
  *object = static_cast<IOleInPlaceFrame*>(this);
  AddRef();
  return S_OK;
}

// References to the frame keep the site, which holds the frame, alive.
STDMETHODIMP_(ULONG) BrowserFrame::AddRef() { return site_.AddRef(); }
STDMETHODIMP_(ULONG) BrowserFrame::Release() { return site_.Release(); }

STDMETHODIMP BrowserSite::Exec(const GUID* group, DWORD command, DWORD, VARIANT*, VARIANT* out) {
  if (!isDocHostGroup(group)) return OLECMDERR_E_UNKNOWNGROUP;
  if (command != OLECMDID_SHOWSCRIPTERROR) return OLECMDERR_E_NOTSUPPORTED;
  if (out != nullptr) {
    VariantClear(out);
    out->vt = VT_BOOL;
    out->boolVal = VARIANT_TRUE;  // go on running the page's scripts
  }
  return S_OK;
}

STDMETHODIMP BrowserSite::OnInPlaceActivate() {
  if (control_) control_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(inPlace_.put()));
  return S_OK;
}

STDMETHODIMP BrowserSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                           LPRECT clip, LPOLEINPLACEFRAMEINFO frameInfo) {
  if (frame == nullptr || document == nullptr || position == nullptr || clip == nullptr || frameInfo == nullptr) {
    return E_POINTER;
  }
  *frame = &frame_;
  frame_.AddRef();
  *document = nullptr;  // no document window apart from the frame
  *position = clientRect();
  *clip = *position;
  // The caller has set cb; the rest says: no MDI, no accelerators.
  frameInfo->fMDIApp = FALSE;
  frameInfo->hwndFrame = frame_.frameWindow();
  frameInfo->haccel = nullptr;
  frameInfo->cAccelEntries = 0;
  return S_OK;
}

STDMETHODIMP BrowserSite::OnPosRectChange(LPCRECT position) {
  if (position == nullptr) return E_POINTER;
  if (inPlace_) inPlace_->SetObjectRects(position, position);
  return S_OK;
}

STDMETHODIMP BrowserSite::GetHostInfo(DOCHOSTUIINFO* info) {
  if (info == nullptr) return E_POINTER;
  info->dwFlags = DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_SCROLL_NO;
  info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
  info->pchHostCss = nullptr;
  info->pchHostNS = nullptr;
  return S_OK;
}

HRESULT BrowserSite::attach(REFCLSID classId, REFIID iid, void** control) {
  if (control_) return E_UNEXPECTED;  // one control per host window
  HRESULT result = CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                    reinterpret_cast<void**>(control_.put()));
  if (FAILED(result)) return result;
  // Site first, then the empty state, then in place: the order the control
  // asks for when it wants its site before it loads (OLEMISC_SETCLIENTSITEFIRST).
  result = control_->SetClientSite(static_cast<IOleClientSite*>(this));
  if (SUCCEEDED(result)) {
    ComPtr<IPersistStreamInit> persist;
    if (SUCCEEDED(control_->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(persist.put())))) {
      persist->InitNew();
    }
    RECT rect = clientRect();
    result =
        control_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(this), 0, hostWindow_, &rect);
  }
  if (SUCCEEDED(result)) result = control_->QueryInterface(iid, control);
  if (FAILED(result)) close();
  return result;
}

void BrowserSite::resize() {
  if (!inPlace_) return;
  const RECT rect = clientRect();
  inPlace_->SetObjectRects(&rect, &rect);
}

// Detaches the control: out of place, closed without saving, and without a
// site, so that it drops its references to this one. Whoever still holds
// the control's interfaces holds an inert object.
void BrowserSite::close() {
  if (inPlace_) {
    ComPtr<IOleInPlaceObject> inPlace = inPlace_;
    inPlace->InPlaceDeactivate();
  }
  inPlace_.reset();
  if (control_) {
    ComPtr<IOleObject> control = control_;
    control_.reset();
    control->Close(OLECLOSE_NOSAVE);
    control->SetClientSite(nullptr);
  }
}

BrowserSite* siteOf(HWND window) { return reinterpret_cast<BrowserSite*>(GetWindowLongPtrW(window, GWLP_USERDATA)); }

constexpr const wchar_t* kHostClass = L"AtlAxWin110";

bool isHostWindow(HWND window) {
  wchar_t className[32] = {};
  return IsWindow(window) != FALSE && GetClassNameW(window, className, 32) > 0 && lstrcmpiW(className, kHostClass) == 0;
}

}  // namespace

LRESULT CALLBACK browserHostProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: {
      // No exception crosses user32's frames: without memory for the site
      // the window is not made, and the launcher has no browser.
      auto* site = new (std::nothrow) BrowserSite(window);
      if (site == nullptr) return -1;
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(site));
      return 0;
    }
    case WM_SIZE:
      if (BrowserSite* site = siteOf(window)) site->resize();
      return 0;
    case WM_ERASEBKGND: return 1;  // the control paints the whole area; no flash of background
    case WM_DESTROY:
      if (BrowserSite* site = siteOf(window)) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        site->close();
        site->Release();
      }
      return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
  }
}

HRESULT createHostedControl(HWND hostWindow, REFCLSID classId, REFIID iid, void** control) {
  if (control == nullptr) return E_POINTER;
  *control = nullptr;
  if (!isHostWindow(hostWindow)) return E_INVALIDARG;
  BrowserSite* site = siteOf(hostWindow);
  if (site == nullptr) return E_UNEXPECTED;
  return site->attach(classId, iid, control);
}

}  // namespace platform::win32
