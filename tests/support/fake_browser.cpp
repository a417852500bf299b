// A scripted page behind the browser seam: its script functions, elements
// and states are whatever the test put into fakePage().
#include <memory>
#include <string>

#include "platform/browser.h"
#include "support/fake_ui.h"

using testsupport::FakeElement;
using testsupport::fakePage;
using testsupport::PageValue;

namespace {

PageValue fromVariant(const VARIANT& value) {
  switch (value.vt) {
    case VT_BSTR: return platform::bstrText(value.bstrVal);
    case VT_INT: return static_cast<std::int32_t>(value.intVal);
    case VT_I4: return static_cast<std::int32_t>(value.lVal);
    case VT_BOOL: return value.boolVal != VARIANT_FALSE;
    default: return std::monostate{};
  }
}

void toVariant(const PageValue& value, VARIANT* out) {
  VariantInit(out);
  if (const auto* text = std::get_if<std::u16string>(&value)) {
    out->vt = VT_BSTR;
    out->bstrVal = platform::allocBstr(*text);
  } else if (const auto* number = std::get_if<std::int32_t>(&value)) {
    out->vt = VT_INT;
    out->intVal = *number;
  } else if (const auto* flag = std::get_if<bool>(&value)) {
    out->vt = VT_BOOL;
    out->boolVal = *flag ? VARIANT_TRUE : VARIANT_FALSE;
  } else if (const auto* real = std::get_if<double>(&value)) {
    out->vt = VT_I4;
    out->lVal = static_cast<LONG>(*real);
  }
}

// The page's script object: functions by name, numbered in name order.
GLIMMERHOLD_COM_CLASS_BEGIN
class FakeScript : public IDispatch {
 public:
  virtual ~FakeScript() = default;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (count != 1) return E_INVALIDARG;
    std::u16string name = platform::bstrText(names[0]);
    DISPID id = 1;
    for (const auto& entry : fakePage().functions) {
      if (entry.first == name) {
        ids[0] = id;
        return S_OK;
      }
      ++id;
    }
    ids[0] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    DISPID id = 1;
    for (const auto& entry : fakePage().functions) {
      if (id++ != member) continue;
      PageValue argument = params != nullptr && params->cArgs > 0 ? fromVariant(params->rgvarg[0]) : PageValue{};
      fakePage().calls.push_back({entry.first, argument});
      auto function = entry.second;  // the call may change the page's functions
      PageValue answer = function(argument);
      if (result != nullptr) toVariant(answer, result);
      return S_OK;
    }
    return DISP_E_MEMBERNOTFOUND;
  }

 private:
  ULONG refs_ = 1;
};
GLIMMERHOLD_COM_CLASS_END

class FakeElementRef : public platform::HtmlElement {
 public:
  explicit FakeElementRef(std::size_t index) : index_(index) {}
  HRESULT getAttribute(std::u16string_view name, VARIANT* value) override {
    VariantInit(value);
    value->vt = VT_NULL;
    FakeElement& e = fakePage().elements.at(index_);
    auto found = e.attributes.find(std::u16string(name));
    if (found != e.attributes.end()) {
      value->vt = VT_BSTR;
      value->bstrVal = platform::allocBstr(found->second);
    }
    return S_OK;
  }
  HRESULT putOnMouseDown(const VARIANT& handler) override {
    if (handler.vt != VT_DISPATCH) return E_INVALIDARG;
    FakeElement& e = fakePage().elements.at(index_);
    handler.pdispVal->AddRef();
    e.onMouseDown = platform::ComPtr<IDispatch>(handler.pdispVal);
    ++e.handlersSet;
    return S_OK;
  }

 private:
  std::size_t index_;
};

class FakeBody : public platform::HtmlElement {
 public:
  HRESULT getAttribute(std::u16string_view name, VARIANT* value) override {
    VariantInit(value);
    value->vt = VT_NULL;
    for (const FakeElement& e : fakePage().elements) {
      if (e.tag != u"body") continue;
      auto found = e.attributes.find(std::u16string(name));
      if (found != e.attributes.end()) {
        value->vt = VT_BSTR;
        value->bstrVal = platform::allocBstr(found->second);
      }
    }
    return S_OK;
  }
  HRESULT putOnMouseDown(const VARIANT&) override { return E_NOTIMPL; }
};

class FakeCollection : public platform::HtmlElementCollection {
 public:
  explicit FakeCollection(std::vector<std::size_t> members) : members_(std::move(members)) {}
  HRESULT length(long* count) override {
    *count = static_cast<long>(members_.size());
    return S_OK;
  }
  HRESULT item(const VARIANT&, const VARIANT& index, std::shared_ptr<platform::HtmlElement>* element) override {
    element->reset();
    if (index.vt != VT_INT || index.intVal < 0 || static_cast<std::size_t>(index.intVal) >= members_.size()) {
      return E_INVALIDARG;
    }
    *element = std::make_shared<FakeElementRef>(members_[static_cast<std::size_t>(index.intVal)]);
    return S_OK;
  }

 private:
  std::vector<std::size_t> members_;
};

class FakeDocument : public platform::HtmlDocument2, public platform::HtmlDocument3 {
 public:
  HRESULT readyState(std::u16string* state) override {
    auto& page = fakePage();
    std::size_t i = std::min(page.readyStateReads++, page.readyStates.size() - 1);
    *state = page.readyStates[i];
    return S_OK;
  }
  HRESULT script(IDispatch** object) override {
    *object = fakePage().scriptAvailable ? new FakeScript : nullptr;
    return *object != nullptr ? S_OK : E_FAIL;
  }
  HRESULT body(std::shared_ptr<platform::HtmlElement>* element) override {
    if (!fakePage().hasBody) {
      element->reset();
      return E_FAIL;
    }
    *element = std::make_shared<FakeBody>();
    return S_OK;
  }
  HRESULT elementById(std::u16string_view id, std::shared_ptr<platform::HtmlElement>* element) override {
    element->reset();
    auto& elements = fakePage().elements;
    for (std::size_t i = 0; i < elements.size(); ++i) {
      if (elements[i].id == id) {
        *element = std::make_shared<FakeElementRef>(i);
        break;
      }
    }
    return S_OK;
  }
  HRESULT elementsByTagName(std::u16string_view tag,
                            std::shared_ptr<platform::HtmlElementCollection>* elements) override {
    std::vector<std::size_t> members;
    auto& all = fakePage().elements;
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (all[i].tag == tag) members.push_back(i);
    }
    *elements = std::make_shared<FakeCollection>(std::move(members));
    return S_OK;
  }
};

class FakeBrowser : public platform::WebBrowser2 {
 public:
  HRESULT navigate(std::u16string_view url) override {
    fakePage().navigations.emplace_back(url);
    return S_OK;
  }
  void setNavigationFilter(NavigationFilter filter) override { fakePage().navigationFilter = std::move(filter); }
  HRESULT document(std::shared_ptr<platform::HtmlDocument2>* document2,
                   std::shared_ptr<platform::HtmlDocument3>* document3) override {
    auto& page = fakePage();
    if (page.documentFailures > 0) {
      --page.documentFailures;
      return E_FAIL;
    }
    auto doc = std::make_shared<FakeDocument>();
    *document2 = doc;
    if (page.hasLookup) {
      *document3 = doc;
    } else {
      document3->reset();
    }
    return S_OK;
  }
};

}  // namespace

namespace platform {

bool atlAxWinInit() { return true; }
void atlAxWinTerm() {}

WindowHandle createBrowserHostWindow(WindowHandle, const Rect& rect) {
  auto& log = testsupport::fakeWindow();
  log.host = reinterpret_cast<WindowHandle>(std::uintptr_t{0x2000});
  log.events.push_back("host:" + std::to_string(rect.left) + "," + std::to_string(rect.top) + "," +
                       std::to_string(rect.right) + "," + std::to_string(rect.bottom));
  return log.host;
}

HRESULT createWebBrowser(WindowHandle, std::unique_ptr<WebBrowser2>* browser) {
  *browser = std::make_unique<FakeBrowser>();
  return S_OK;
}

}  // namespace platform
