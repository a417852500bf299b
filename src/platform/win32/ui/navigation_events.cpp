#include "platform/win32/ui/navigation_events.h"

#include <exdisp.h>
#include <exdispid.h>
#include <ocidl.h>

#include <atomic>
#include <utility>

#include "platform/automation.h"

namespace platform::win32 {

namespace {

GLIMMERHOLD_COM_CLASS_BEGIN
class NavigationSink final : public IDispatch {
 public:
  NavigationSink(IUnknown* browser, WebBrowser2::NavigationFilter filter)
      : browser_(browser), filter_(std::move(filter)) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) &&
        !IsEqualIID(riid, DIID_DWebBrowserEvents2)) {
      return E_NOINTERFACE;
    }
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refCount_); }
  STDMETHODIMP_(ULONG) Release() override {
    const long count = --refCount_;
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
  }
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (count != nullptr) *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override;

 private:
  ~NavigationSink() = default;

  bool isTopFrame(const VARIANT& frame) const;

  std::atomic<long> refCount_{1};
  IUnknown* browser_;
  WebBrowser2::NavigationFilter filter_;
};
GLIMMERHOLD_COM_CLASS_END

// Sets the event's Cancel argument, the one passed as VT_BYREF | VT_BOOL.
void cancel(DISPPARAMS& params) {
  for (UINT i = 0; i < params.cArgs; ++i) {
    VARIANT& argument = params.rgvarg[i];
    if (argument.vt == (VT_BYREF | VT_BOOL) && argument.pboolVal != nullptr) *argument.pboolVal = VARIANT_TRUE;
  }
}

bool NavigationSink::isTopFrame(const VARIANT& frame) const {
  if (frame.vt != VT_DISPATCH || frame.pdispVal == nullptr) return false;
  // COM identity: the same object answers IUnknown with the same pointer.
  ComPtr<IUnknown> identity;
  if (FAILED(frame.pdispVal->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(identity.put())))) return false;
  return identity.get() == browser_;
}

STDMETHODIMP NavigationSink::Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                    UINT*) {
  if (params == nullptr) return S_OK;
  switch (member) {
    case DISPID_BEFORENAVIGATE2: {
      // pDisp, URL, Flags, TargetFrameName, PostData, Headers, Cancel: the
      // arguments come last first.
      if (params->cArgs != 7 || !filter_) return S_OK;
      const VARIANT& url = params->rgvarg[5];
      const VARIANT* text = url.vt == (VT_BYREF | VT_VARIANT) ? url.pvarVal : &url;
      // The engine's frames are below: nothing thrown may leave. A
      // navigation that cannot be checked (no memory for its address) is
      // not followed.
      bool allowed = false;
      try {
        std::u16string address;
        if (text != nullptr && text->vt == VT_BSTR) address = bstrText(text->bstrVal);
        allowed = filter_(NavigationEvent::Before, address, isTopFrame(params->rgvarg[6]));
      } catch (...) {
        allowed = false;
      }
      if (!allowed) cancel(*params);
      return S_OK;
    }
    case DISPID_NAVIGATEERROR: {
      // pDisp, URL, TargetFrameName, StatusCode, Cancel. Cancel stops the
      // control's own error page from replacing the failed navigation.
      if (params->cArgs != 5 || !filter_) return S_OK;
      const VARIANT& url = params->rgvarg[3];
      const VARIANT* text = url.vt == (VT_BYREF | VT_VARIANT) ? url.pvarVal : &url;
      // As above: a failure that cannot be checked keeps the control's
      // error page away.
      bool allowed = false;
      try {
        std::u16string address;
        if (text != nullptr && text->vt == VT_BSTR) address = bstrText(text->bstrVal);
        allowed = filter_(NavigationEvent::Failed, address, isTopFrame(params->rgvarg[4]));
      } catch (...) {
        allowed = false;
      }
      if (!allowed) cancel(*params);
      return S_OK;
    }
    case DISPID_NEWWINDOW2:
    case DISPID_NEWWINDOW3: cancel(*params); return S_OK;
    default: return S_OK;
  }
}

}  // namespace

ComPtr<IDispatch> makeNavigationSink(IUnknown* browser, WebBrowser2::NavigationFilter filter) {
  return ComPtr<IDispatch>(new NavigationSink(browser, std::move(filter)));
}

HRESULT NavigationConnection::connect(IUnknown* control, IDispatch* sink) {
  disconnect();
  ComPtr<IConnectionPointContainer> container;
  HRESULT result = control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container.put()));
  if (FAILED(result)) return result;
  result = container->FindConnectionPoint(DIID_DWebBrowserEvents2, point_.put());
  if (FAILED(result)) return result;
  result = point_->Advise(sink, &cookie_);
  if (FAILED(result)) point_.reset();
  return result;
}

void NavigationConnection::disconnect() {
  if (point_) point_->Unadvise(cookie_);
  point_.reset();
  cookie_ = 0;
}

}  // namespace platform::win32
