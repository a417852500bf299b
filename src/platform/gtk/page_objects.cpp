#include "platform/gtk/page_objects.h"

#include <atomic>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "text/encoding.h"

namespace platform::gtk {

namespace {

// Automation status codes that only this side reports.
constexpr HRESULT kDispNoNamedArgs = static_cast<HRESULT>(0x80020007u);   // DISP_E_NONAMEDARGS
constexpr HRESULT kDispTypeMismatch = static_cast<HRESULT>(0x80020005u);  // DISP_E_TYPEMISMATCH
constexpr HRESULT kDispException = static_cast<HRESULT>(0x80020009u);     // DISP_E_EXCEPTION

// The named parameters of a page call, as WebKit takes them: an a{sv}
// dictionary. The values are floating and consumed.
GVariant* parameters(std::initializer_list<std::pair<const char*, GVariant*>> entries) {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
  for (const auto& [name, value] : entries) g_variant_builder_add(&builder, "{sv}", name, value);
  return g_variant_builder_end(&builder);
}

// WebKit carries strings and numbers into the page but refuses booleans:
// they travel as 0 or 1 and become booleans in the page's code.

// GVariant strings end at the first NUL, so a text with an embedded NUL
// reaches the page cut there.
GVariant* textParameter(std::u16string_view text) { return g_variant_new_string(text::utf8FromUtf16(text).c_str()); }

// The answer of a call that yields a registry handle: the handle, an empty
// optional for "no such object", or a failure.
HRESULT handleOf(const ScriptCall& call, std::optional<std::string>* handle) {
  if (!call.done()) return E_FAIL;
  if (call.value.kind == ScriptValue::Kind::Null) {
    handle->reset();
    return S_OK;
  }
  if (call.value.kind != ScriptValue::Kind::String) return E_FAIL;
  *handle = call.value.text;
  return S_OK;
}

class PageElement final : public HtmlElement {
 public:
  PageElement(std::shared_ptr<BrowserView> view, std::string handle)
      : view_(std::move(view)), handle_(std::move(handle)) {}

  HRESULT getAttribute(std::u16string_view name, VARIANT* value) override {
    if (value == nullptr) return E_POINTER;
    VariantInit(value);
    ScriptCall call = view_->callWithRegistry(
        "return get(handle).getAttribute(name);",
        parameters({{"handle", g_variant_new_string(handle_.c_str())}, {"name", textParameter(name)}}));
    if (!call.done()) return E_FAIL;
    if (call.value.kind == ScriptValue::Kind::Null) {
      value->vt = VT_NULL;
      return S_OK;
    }
    if (call.value.kind != ScriptValue::Kind::String) return E_FAIL;
    BSTR text = allocBstr(text::utf16FromUtf8(call.value.text));
    if (text == nullptr) return E_OUTOFMEMORY;
    value->vt = VT_BSTR;
    value->bstrVal = text;
    return S_OK;
  }

  HRESULT putOnMouseDown(const VARIANT& handler) override {
    ComPtr<IDispatch> bound;
    if (handler.vt == VT_DISPATCH && handler.pdispVal != nullptr) {
      handler.pdispVal->AddRef();
      bound = ComPtr<IDispatch>(handler.pdispVal);
    } else if (handler.vt != VT_DISPATCH && handler.vt != VT_NULL && handler.vt != VT_EMPTY) {
      return E_INVALIDARG;
    }
    // The page's function posts the element's handle and returns undefined:
    // it neither cancels the event nor stops it from bubbling on.
    ScriptCall call = view_->callWithRegistry(
        "const element = get(handle);\n"
        "element.onmousedown = bind ? function () {\n"
        "  window.webkit.messageHandlers." +
            std::string(BrowserView::kMouseDownChannel) +
            ".postMessage(handle);\n"
            "} : null;\n",
        parameters({{"handle", g_variant_new_string(handle_.c_str())}, {"bind", g_variant_new_int32(bound ? 1 : 0)}}));
    if (!call.done()) return E_FAIL;
    view_->bindMouseDown(handle_, std::move(bound));
    return S_OK;
  }

 private:
  std::shared_ptr<BrowserView> view_;
  std::string handle_;
};

std::shared_ptr<HtmlElement> elementOf(const std::shared_ptr<BrowserView>& view,
                                       const std::optional<std::string>& handle) {
  if (!handle) return nullptr;
  return std::make_shared<PageElement>(view, *handle);
}

class PageCollection final : public HtmlElementCollection {
 public:
  PageCollection(std::shared_ptr<BrowserView> view, std::string handle)
      : view_(std::move(view)), handle_(std::move(handle)) {}

  HRESULT length(long* count) override {
    if (count == nullptr) return E_POINTER;
    ScriptCall call = view_->callWithRegistry("return get(handle).length;",
                                              parameters({{"handle", g_variant_new_string(handle_.c_str())}}));
    if (!call.done() || call.value.kind != ScriptValue::Kind::Number) return E_FAIL;
    *count = static_cast<long>(call.value.number);
    return S_OK;
  }

  // A number in `name` is the index (the launcher passes the index as both
  // arguments); a text is looked up by id or name; otherwise `index` counts.
  HRESULT item(const VARIANT& name, const VARIANT& index, std::shared_ptr<HtmlElement>* element) override {
    if (element == nullptr) return E_POINTER;
    element->reset();
    GVariant* key = nullptr;
    if (name.vt == VT_INT || name.vt == VT_I4) {
      key = g_variant_new_double(name.vt == VT_INT ? name.intVal : name.lVal);
    } else if (name.vt == VT_BSTR) {
      key = g_variant_new_string(text::utf8FromUtf16(bstrText(name.bstrVal)).c_str());
    } else if (index.vt == VT_INT || index.vt == VT_I4) {
      key = g_variant_new_double(index.vt == VT_INT ? index.intVal : index.lVal);
    } else {
      return E_INVALIDARG;
    }
    ScriptCall call = view_->callWithRegistry(
        "const items = get(handle);\n"
        "const found = typeof key === 'number' ? (key >= 0 ? items.item(key) : null)\n"
        "                                      : items.namedItem(key);\n"
        "return found instanceof Element ? put(found) : null;\n",
        parameters({{"handle", g_variant_new_string(handle_.c_str())}, {"key", key}}));
    std::optional<std::string> handle;
    const HRESULT status = handleOf(call, &handle);
    if (SUCCEEDED(status)) *element = elementOf(view_, handle);
    return status;
  }

 private:
  std::shared_ptr<BrowserView> view_;
  std::string handle_;
};

// The page's global scope as an automation object. Reference counted like
// every automation object: it deletes itself when the last reference goes.
class ScriptObject final : public IDispatch {
 public:
  static IDispatch* create(std::shared_ptr<BrowserView> view) { return new ScriptObject(std::move(view)); }

  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!(riid == IID_IUnknown) && !(riid == IID_IDispatch)) return E_NOINTERFACE;
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refCount_; }
  ULONG Release() override {
    const ULONG left = --refCount_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }

  // A name is known when the page defines a function of that name now.
  HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (count == 0) return S_OK;
    if (names == nullptr || ids == nullptr || names[0] == nullptr) return E_POINTER;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    const std::string name = text::utf8FromUtf16(std::u16string_view(names[0]));
    ScriptCall call = view_->call("return typeof window[name] === 'function';",
                                  parameters({{"name", g_variant_new_string(name.c_str())}}));
    if (!call.done()) return call.outcome == ScriptCall::Outcome::Failed ? E_FAIL : DISP_E_UNKNOWNNAME;
    if (call.value.kind != ScriptValue::Kind::Boolean || !call.value.boolean) return DISP_E_UNKNOWNNAME;
    ids[0] = view_->idOfName(name);
    // Further names would name arguments, which page functions do not have.
    return count > 1 ? DISP_E_UNKNOWNNAME : S_OK;
  }

  HRESULT Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                 UINT* argError) override {
    const std::string* name = view_->nameOfId(member);
    if (name == nullptr || (flags & DISPATCH_METHOD) == 0) return DISP_E_MEMBERNOTFOUND;
    if (params != nullptr && params->cNamedArgs > 0) return kDispNoNamedArgs;
    if (result != nullptr) VariantInit(result);

    // Each argument becomes a named parameter a0, a1, ... (the list holds
    // them last to first); empty and null ones are written as literals.
    std::string list;
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&builder, "{sv}", "name", g_variant_new_string(name->c_str()));
    const UINT count = params != nullptr ? params->cArgs : 0;
    for (UINT i = 0; i < count; ++i) {
      const UINT source = count - 1 - i;
      const VARIANT& argument = params->rgvarg[source];
      // Workaround for GCC 12's false -Wrestrict: built by appending, since
      // at -O3 it reports one inside libstdc++ for a literal put in front of
      // a string ("a" + text). Can go ("a" + std::to_string(i)) once the
      // builds' GCC no longer reports it in the Release build.
      std::string parameter("a");
      parameter += std::to_string(i);
      GVariant* value = nullptr;
      switch (argument.vt) {
        case VT_BSTR: value = g_variant_new_string(text::utf8FromUtf16(bstrText(argument.bstrVal)).c_str()); break;
        case VT_INT: value = g_variant_new_int32(argument.intVal); break;
        case VT_I4: value = g_variant_new_int32(argument.lVal); break;
        case VT_BOOL:
          g_variant_builder_add(&builder, "{sv}", parameter.c_str(),
                                g_variant_new_int32(argument.boolVal != VARIANT_FALSE ? 1 : 0));
          list.append("!!").append(parameter).append(",");
          continue;
        case VT_EMPTY: list += "undefined,"; continue;
        case VT_NULL: list += "null,"; continue;
        default:
          g_variant_builder_clear(&builder);
          if (argError != nullptr) *argError = source;
          return kDispTypeMismatch;
      }
      g_variant_builder_add(&builder, "{sv}", parameter.c_str(), value);
      list.append(parameter).append(",");
    }
    // Only values that have an automation form are carried back; objects,
    // null and the like come back as undefined rather than as an error.
    std::string script("const result = window[name](");
    script.append(list).append(
        ");\n"
        "const kind = typeof result;\n"
        "return kind === 'string' || kind === 'number' || kind === 'boolean' ? result : undefined;\n");
    ScriptCall call = view_->call(script, g_variant_builder_end(&builder));
    if (call.outcome == ScriptCall::Outcome::ScriptError) {
      if (exception != nullptr) exception->scode = E_FAIL;
      return kDispException;
    }
    if (!call.done()) return E_FAIL;
    return result != nullptr ? resultOf(call.value, result) : S_OK;
  }

 private:
  explicit ScriptObject(std::shared_ptr<BrowserView> view) : view_(std::move(view)) {}
  ~ScriptObject() = default;

  static HRESULT resultOf(const ScriptValue& value, VARIANT* result) {
    switch (value.kind) {
      case ScriptValue::Kind::String: {
        BSTR text = allocBstr(text::utf16FromUtf8(value.text));
        if (text == nullptr) return E_OUTOFMEMORY;
        result->vt = VT_BSTR;
        result->bstrVal = text;
        return S_OK;
      }
      case ScriptValue::Kind::Number:
        // Whole numbers that fit; a fraction or a huge number has no form
        // among the launcher's variant types and stays empty.
        if (std::trunc(value.number) == value.number && value.number >= std::numeric_limits<LONG>::min() &&
            value.number <= std::numeric_limits<LONG>::max()) {
          result->vt = VT_I4;
          result->lVal = static_cast<LONG>(value.number);
        }
        return S_OK;
      case ScriptValue::Kind::Boolean:
        result->vt = VT_BOOL;
        result->boolVal = value.boolean ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
      default: return S_OK;
    }
  }

  std::shared_ptr<BrowserView> view_;
  std::atomic<ULONG> refCount_{1};
};

class PageDocument final : public HtmlDocument2, public HtmlDocument3 {
 public:
  explicit PageDocument(std::shared_ptr<BrowserView> view) : view_(std::move(view)) {}

  HRESULT readyState(std::u16string* state) override {
    if (state == nullptr) return E_POINTER;
    ScriptCall call = view_->call("return document.readyState;", nullptr);
    if (!call.done() || call.value.kind != ScriptValue::Kind::String) return E_FAIL;
    *state = text::utf16FromUtf8(call.value.text);
    return S_OK;
  }

  HRESULT script(IDispatch** script) override {
    if (script == nullptr) return E_POINTER;
    *script = nullptr;
    if (!view_->hasDocument()) return E_FAIL;
    *script = ScriptObject::create(view_);
    return S_OK;
  }

  HRESULT body(std::shared_ptr<HtmlElement>* body) override {
    return lookUp("return put(document.body);", nullptr, body);
  }

  HRESULT elementById(std::u16string_view id, std::shared_ptr<HtmlElement>* element) override {
    return lookUp("return put(document.getElementById(id));", parameters({{"id", textParameter(id)}}), element);
  }

  HRESULT elementsByTagName(std::u16string_view tag, std::shared_ptr<HtmlElementCollection>* elements) override {
    if (elements == nullptr) return E_POINTER;
    elements->reset();
    ScriptCall call = view_->callWithRegistry("return put(document.getElementsByTagName(tag));",
                                              parameters({{"tag", textParameter(tag)}}));
    std::optional<std::string> handle;
    const HRESULT status = handleOf(call, &handle);
    if (FAILED(status) || !handle) return E_FAIL;
    *elements = std::make_shared<PageCollection>(view_, *handle);
    return S_OK;
  }

 private:
  HRESULT lookUp(std::string_view body, GVariant* arguments, std::shared_ptr<HtmlElement>* element) {
    if (element == nullptr) {
      if (arguments != nullptr) g_variant_unref(g_variant_ref_sink(arguments));
      return E_POINTER;
    }
    element->reset();
    std::optional<std::string> handle;
    const HRESULT status = handleOf(view_->callWithRegistry(body, arguments), &handle);
    if (SUCCEEDED(status)) *element = elementOf(view_, handle);
    return status;
  }

  std::shared_ptr<BrowserView> view_;
};

}  // namespace

void makeDocument(const std::shared_ptr<BrowserView>& view, std::shared_ptr<HtmlDocument2>* document2,
                  std::shared_ptr<HtmlDocument3>* document3) {
  auto document = std::make_shared<PageDocument>(view);
  if (document2 != nullptr) *document2 = document;
  if (document3 != nullptr) *document3 = document;
}

}  // namespace platform::gtk
