#include "win32_ui/scripted_document.h"

#include <cwchar>
#include <utility>

#include "mshtml_stubs.h"
#include "platform/automation.h"

namespace scripted {

class ScriptedPage::Object {
 public:
  Object(ScriptedPage& page, std::string name, long references)
      : page_(page), name_(std::move(name)), references_(references) {}
  virtual ~Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  long references() const { return references_; }
  const std::string& name() const { return name_; }

 protected:
  // The page keeps its objects alive itself: a reference handed out again
  // after the last one went is a new one, as when the engine returns the
  // same element to a later lookup.
  ULONG addRef() { return static_cast<ULONG>(++references_); }
  ULONG release() {
    if (references_ == 0) {
      page_.fault(name_ + " released once too often");
      return 0;
    }
    return static_cast<ULONG>(--references_);
  }
  // An [in] string must be a real BSTR: its length prefix matches its text.
  void checkInString(BSTR text, const char* what) {
    if (text != nullptr && SysStringLen(text) != std::wcslen(text)) page_.fault(std::string(what) + " is not a BSTR");
  }

  ScriptedPage& page_;
  std::string name_;

 private:
  long references_;
};

namespace {

// What every object of the page answers alike as an IDispatch: no type
// information, and (apart from the script object) no named members.
#define SCRIPTED_DISPATCH                                       \
  STDMETHODIMP_(ULONG) AddRef() override { return addRef(); }   \
  STDMETHODIMP_(ULONG) Release() override { return release(); } \
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {         \
    if (count == nullptr) return E_POINTER;                     \
    *count = 0;                                                 \
    return S_OK;                                                \
  }                                                             \
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return DISP_E_BADINDEX; }

#define SCRIPTED_NO_MEMBERS                                                                            \
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }    \
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { \
    return E_NOTIMPL;                                                                                  \
  }

template <typename Interface>
HRESULT handOut(Interface* object, Interface** out) {
  if (out == nullptr) return E_POINTER;
  *out = object;
  if (object != nullptr) object->AddRef();
  return S_OK;
}

}  // namespace

GLIMMERHOLD_COM_CLASS_BEGIN

class ElementObject final : public ScriptedPage::Object, public IHTMLElementStubs {
 public:
  ElementObject(ScriptedPage& page, std::size_t index)
      : Object(page, "element " + std::to_string(index), 0), index_(index) {}
  ~ElementObject() override { dropHandler(); }

  SCRIPTED_DISPATCH
  SCRIPTED_NO_MEMBERS
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) && !IsEqualIID(riid, IID_IHTMLElement)) {
      return E_NOINTERFACE;
    }
    *object = static_cast<IHTMLElement*>(this);
    AddRef();
    return S_OK;
  }

  // getAttribute(name, flags, value): the text, or VT_NULL when absent.
  STDMETHODIMP getAttribute(BSTR name, LONG flags, VARIANT* value) override {
    if (value == nullptr) return E_POINTER;
    checkInString(name, "getAttribute's name");
    if (flags != 0) page_.fault("getAttribute with flags the launcher never means");
    VariantInit(value);
    const auto& attributes = page_.elements_[index_].attributes;
    auto found = attributes.find(name != nullptr ? name : L"");
    if (found == attributes.end()) {
      value->vt = VT_NULL;
      return S_OK;
    }
    value->vt = VT_BSTR;
    value->bstrVal = SysAllocString(found->second.c_str());
    return value->bstrVal != nullptr ? S_OK : E_OUTOFMEMORY;
  }

  // The element holds its own reference to the handler object.
  STDMETHODIMP put_onmousedown(VARIANT handler) override {
    if (handler.vt == VT_NULL) {
      dropHandler();
      return S_OK;
    }
    if (handler.vt != VT_DISPATCH || handler.pdispVal == nullptr) {
      page_.fault("onmousedown set to something other than VT_DISPATCH");
      return E_INVALIDARG;
    }
    handler.pdispVal->AddRef();
    dropHandler();
    handler_ = handler.pdispVal;
    return S_OK;
  }

  STDMETHODIMP get_onmousedown(VARIANT* handler) override {
    if (handler == nullptr) return E_POINTER;
    VariantInit(handler);
    handler->vt = handler_ != nullptr ? VT_DISPATCH : VT_NULL;
    if (handler_ != nullptr) handOut(handler_, &handler->pdispVal);
    return S_OK;
  }

  const Element& element() const { return page_.elements_[index_]; }
  bool holdsHandler() const { return handler_ != nullptr; }

  bool fire() {
    if (handler_ == nullptr) return false;
    IDispatch* handler = handler_;
    handler->AddRef();  // the engine's own reference for the call
    DISPPARAMS noArguments{nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    handler->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &noArguments, &result, nullptr,
                    nullptr);
    VariantClear(&result);
    handler->Release();
    return true;
  }

  void dropHandler() {
    IDispatch* handler = std::exchange(handler_, nullptr);
    // The launcher keeps no reference of its own to its handlers.
    if (handler != nullptr && handler->Release() != 0) page_.fault(name_ + "'s handler outlives its element");
  }

 private:
  std::size_t index_;
  IDispatch* handler_ = nullptr;
};

class Collection final : public ScriptedPage::Object, public IHTMLElementCollectionStubs {
 public:
  Collection(ScriptedPage& page, std::vector<ElementObject*> members)
      : Object(page, "collection", 1), members_(std::move(members)) {}

  SCRIPTED_DISPATCH
  SCRIPTED_NO_MEMBERS
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) &&
        !IsEqualIID(riid, IID_IHTMLElementCollection)) {
      return E_NOINTERFACE;
    }
    *object = static_cast<IHTMLElementCollection*>(this);
    AddRef();
    return S_OK;
  }

  STDMETHODIMP get_length(LONG* length) override {
    if (length == nullptr) return E_POINTER;
    *length = static_cast<LONG>(members_.size());
    return S_OK;
  }

  // item(name, index): a number names the position; a text names an id.
  STDMETHODIMP item(VARIANT name, VARIANT, IDispatch** found) override {
    if (found == nullptr) return E_POINTER;
    *found = nullptr;
    if (name.vt == VT_BSTR) {
      checkInString(name.bstrVal, "item's name");
      for (ElementObject* member : members_) {
        if (member->element().id == (name.bstrVal != nullptr ? name.bstrVal : L"")) {
          return handOut(static_cast<IDispatch*>(static_cast<IHTMLElement*>(member)), found);
        }
      }
      return S_OK;
    }
    VARIANT position;
    VariantInit(&position);
    if (FAILED(VariantChangeType(&position, &name, 0, VT_I4))) return E_INVALIDARG;
    if (position.lVal < 0 || static_cast<std::size_t>(position.lVal) >= members_.size()) return S_OK;
    return handOut(
        static_cast<IDispatch*>(static_cast<IHTMLElement*>(members_[static_cast<std::size_t>(position.lVal)])), found);
  }

 private:
  std::vector<ElementObject*> members_;
};

class Script final : public ScriptedPage::Object, public IDispatch {
 public:
  explicit Script(ScriptedPage& page) : Object(page, "script object", 0) {}

  SCRIPTED_DISPATCH
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch)) return E_NOINTERFACE;
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }

  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (names == nullptr || ids == nullptr) return E_POINTER;
    HRESULT result = S_OK;
    for (UINT i = 0; i < count; ++i) {
      const std::wstring name = names[i] != nullptr ? names[i] : L"";
      if (page_.functions.count(name) == 0) {
        ids[i] = DISPID_UNKNOWN;
        result = DISP_E_UNKNOWNNAME;
        continue;
      }
      auto [entry, added] = ids_.emplace(name, static_cast<DISPID>(ids_.size() + 1));
      ids[i] = entry->second;
    }
    return result;
  }

  STDMETHODIMP Invoke(DISPID member, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argumentError) override;

 private:
  Value valueOf(const VARIANT& argument) {
    switch (argument.vt) {
      case VT_EMPTY:
      case VT_NULL: return std::monostate{};
      case VT_BSTR: return std::wstring(argument.bstrVal != nullptr ? argument.bstrVal : L"");
      case VT_I2: return static_cast<long>(argument.iVal);
      case VT_I4: return static_cast<long>(argument.lVal);
      case VT_INT: return static_cast<long>(argument.intVal);
      case VT_BOOL:
        if (argument.boolVal != VARIANT_TRUE && argument.boolVal != VARIANT_FALSE) {
          page_.fault("a VT_BOOL that is neither VARIANT_TRUE nor VARIANT_FALSE");
        }
        return argument.boolVal != VARIANT_FALSE;
      default: page_.fault("an argument of type " + std::to_string(argument.vt)); return std::monostate{};
    }
  }

  std::map<std::wstring, DISPID> ids_;
};

STDMETHODIMP Script::Invoke(DISPID member, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                            EXCEPINFO* exception, UINT*) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  const std::wstring* name = nullptr;
  for (const auto& [known, id] : ids_) {
    if (id == member) name = &known;
  }
  if (name == nullptr || page_.functions.count(*name) == 0 || (flags & DISPATCH_METHOD) == 0) {
    return DISP_E_MEMBERNOTFOUND;
  }
  if (params == nullptr) return E_POINTER;
  if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
  if (result != nullptr && result->vt != VT_EMPTY) page_.fault("Invoke's result was not empty: it would leak");
  Call call{*name, {}};
  // The arguments come last first.
  for (UINT i = params->cArgs; i > 0; --i) call.arguments.push_back(valueOf(params->rgvarg[i - 1]));
  page_.calls.push_back(call);
  const std::wstring function = *name;
  AddRef();  // the engine holds its script while a function runs
  const Value answer = page_.functions.at(function)(call.arguments);
  Release();
  if (page_.throwing.count(function) != 0) {
    if (exception != nullptr) {
      *exception = EXCEPINFO{};
      exception->bstrSource = SysAllocString(L"JavaScript runtime error");
      exception->bstrDescription = SysAllocString(L"thrown by the page");
      exception->scode = E_FAIL;
    }
    return DISP_E_EXCEPTION;
  }
  if (result == nullptr) return S_OK;
  VariantInit(result);
  if (const auto* number = std::get_if<long>(&answer)) {
    result->vt = VT_I4;
    result->lVal = *number;
  } else if (const auto* flag = std::get_if<bool>(&answer)) {
    result->vt = VT_BOOL;
    result->boolVal = *flag ? VARIANT_TRUE : VARIANT_FALSE;
  } else if (const auto* text = std::get_if<std::wstring>(&answer)) {
    result->vt = VT_BSTR;
    result->bstrVal = SysAllocString(text->c_str());
  }
  return S_OK;
}

class Document final : public ScriptedPage::Object, public IHTMLDocument2Stubs, public IHTMLDocument3Stubs {
 public:
  explicit Document(ScriptedPage& page) : Object(page, "document", 0) {}

  SCRIPTED_DISPATCH
  SCRIPTED_NO_MEMBERS
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IHTMLDocument) ||
        IsEqualIID(riid, IID_IHTMLDocument2)) {
      *object = static_cast<IHTMLDocument2*>(this);
    } else if (IsEqualIID(riid, IID_IHTMLDocument3)) {
      *object = static_cast<IHTMLDocument3*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }

  STDMETHODIMP get_readyState(BSTR* state) override {
    if (state == nullptr) return E_POINTER;
    ++page_.readyStateReads;
    *state = SysAllocString(page_.readyState.c_str());
    return *state != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  STDMETHODIMP get_Script(IDispatch** script) override {
    return handOut(static_cast<IDispatch*>(page_.script_), script);
  }
  STDMETHODIMP get_body(IHTMLElement** body) override {
    for (ElementObject* element : page_.elementObjects_) {
      if (element->element().tag == L"body") return handOut(static_cast<IHTMLElement*>(element), body);
    }
    return handOut<IHTMLElement>(nullptr, body);
  }
  STDMETHODIMP getElementById(BSTR id, IHTMLElement** found) override {
    checkInString(id, "getElementById's id");
    for (ElementObject* element : page_.elementObjects_) {
      if (id != nullptr && element->element().id == id) return handOut(static_cast<IHTMLElement*>(element), found);
    }
    return handOut<IHTMLElement>(nullptr, found);
  }
  STDMETHODIMP getElementsByTagName(BSTR tag, IHTMLElementCollection** found) override {
    if (found == nullptr) return E_POINTER;
    checkInString(tag, "getElementsByTagName's name");
    std::vector<ElementObject*> members;
    for (ElementObject* element : page_.elementObjects_) {
      if (tag != nullptr && _wcsicmp(element->element().tag.c_str(), tag) == 0) members.push_back(element);
    }
    *found = page_.make<Collection>(page_, std::move(members));
    return S_OK;
  }
};

GLIMMERHOLD_COM_CLASS_END

template <typename T, typename... A>
T* ScriptedPage::make(A&&... arguments) {
  auto object = std::make_unique<T>(std::forward<A>(arguments)...);
  T* made = object.get();
  objects_.push_back(std::move(object));
  return made;
}

ScriptedPage::ScriptedPage() {
  script_ = make<Script>(*this);
  document_ = make<Document>(*this);
}

ScriptedPage::~ScriptedPage() { unload(); }

void ScriptedPage::add(Element element) {
  elements_.push_back(std::move(element));
  elementObjects_.push_back(make<ElementObject>(*this, elements_.size() - 1));
}

IDispatch* ScriptedPage::document() {
  IDispatch* document = static_cast<IHTMLDocument2*>(document_);
  document->AddRef();
  return document;
}

bool ScriptedPage::mouseDown(const std::wstring& id) {
  for (ElementObject* element : elementObjects_) {
    if (element->element().id == id) return element->fire();
  }
  return false;
}

void ScriptedPage::unload() {
  for (ElementObject* element : elementObjects_) element->dropHandler();
}

int ScriptedPage::handlersHeld() const {
  int held = 0;
  for (ElementObject* element : elementObjects_) held += element->holdsHandler() ? 1 : 0;
  return held;
}

long ScriptedPage::outstanding() const {
  long total = 0;
  for (const auto& object : objects_) total += object->references();
  return total;
}

std::string ScriptedPage::holders() const {
  std::string held;
  for (const auto& object : objects_) {
    if (object->references() != 0) held += object->name() + " (" + std::to_string(object->references()) + ") ";
  }
  return held;
}

}  // namespace scripted
