#include "web/element_events.h"

#include <algorithm>
#include <memory>
#include <new>

#include "platform/browser.h"
#include "platform/shell_execute.h"

namespace web {

CDOMEventHandler::CDOMEventHandler(ElementCallback callbackToRun, void* data)
    : callback(callbackToRun), userData(data) {}

HRESULT STDMETHODCALLTYPE CDOMEventHandler::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDispatch)) {
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CDOMEventHandler::AddRef() { return static_cast<ULONG>(++refCount); }

ULONG STDMETHODCALLTYPE CDOMEventHandler::Release() {
  LONG count = --refCount;
  if (count != 0) return static_cast<ULONG>(count);
  delete this;
  return 0;
}

HRESULT STDMETHODCALLTYPE CDOMEventHandler::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE CDOMEventHandler::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE CDOMEventHandler::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return S_OK; }

HRESULT STDMETHODCALLTYPE CDOMEventHandler::Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result,
                                                   EXCEPINFO*, UINT*) {
  // Member 0 is the default member: what the browser calls for an event.
  if (member != 0 || callback == nullptr) return S_OK;
  // The engine called in through its own frames, which no C++ exception may
  // cross (on 32-bit Windows it would end the process): the event is
  // dropped and the engine told why.
  try {
    callback(result, userData);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
  return S_OK;
}

void attachMouseDownHandler(platform::HtmlElement& element, ElementCallback callback, void* userData) {
  platform::Variant handler;
  handler.get()->vt = VT_DISPATCH;
  handler.get()->pdispVal = new CDOMEventHandler(callback, userData);
  handler.get()->pdispVal->AddRef();
  element.putOnMouseDown(handler.value());
}

std::optional<std::u16string> externalAddress(platform::HtmlElement& element) {
  platform::Variant value;
  if (FAILED(element.getAttribute(u"xhref", value.get())) || value.value().vt != VT_BSTR) return std::nullopt;
  return platform::bstrText(value.value().bstrVal);
}

bool isOpenableLink(std::u16string_view address) {
  for (char16_t c : address) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  auto startsWithNoCase = [address](std::u16string_view scheme) {
    if (address.size() < scheme.size()) return false;
    return std::equal(scheme.begin(), scheme.end(), address.begin(), [](char16_t expected, char16_t c) {
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
      return c == expected;
    });
  };
  return startsWithNoCase(u"http://") || startsWithNoCase(u"https://") || startsWithNoCase(u"mailto:");
}

void openExternalLink(VARIANT*, void* userData) {
  auto* element = static_cast<platform::HtmlElement*>(userData);
  if (element == nullptr) return;
  // Read again: the page may have changed the address since binding.
  std::optional<std::u16string> address = externalAddress(*element);
  if (address && isOpenableLink(*address)) platform::shellOpen(*address);
}

}  // namespace web
