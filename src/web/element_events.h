// Mouse-down handlers that page elements hold: a small automation object the
// browser calls when a mouse button goes down over the element.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <string_view>

#include "platform/automation.h"
#include "platform/browser.h"

namespace web {

// What a handler runs: the browser's result argument (may be null) and the
// user data the handler was made with.
using ElementCallback = void (*)(VARIANT* result, void* userData);

// Implements IDispatch and nothing else. Made on the heap with no reference;
// the element it is handed to takes the first one and owns it, and the last
// Release deletes it.
GLIMMERHOLD_COM_CLASS_BEGIN
class CDOMEventHandler : public IDispatch {
 public:
  CDOMEventHandler(ElementCallback callback, void* userData);
  virtual ~CDOMEventHandler() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argError) override;

  ElementCallback callback;
  std::atomic<LONG> refCount{0};
  void* userData;
};
GLIMMERHOLD_COM_CLASS_END

// Hands a new handler running the callback to the element, which takes the
// first reference.
void attachMouseDownHandler(platform::HtmlElement& element, ElementCallback callback, void* userData);

// The element's "xhref" attribute, when it has one.
std::optional<std::u16string> externalAddress(platform::HtmlElement& element);

// True for the addresses a page may have opened outside the launcher: those
// starting "http://", "https://" or "mailto:" (in any letter case) and free
// of control characters. The page arrives over plain HTTP, and the desktop
// would run a path, a "file:" address or another scheme's handler as a
// program.
bool isOpenableLink(std::u16string_view address);

// Opens a link element's "xhref" address with the desktop, outside the
// launcher, when isOpenableLink allows it; anything else is dropped without
// a word. The user data is the element (a platform::HtmlElement).
void openExternalLink(VARIANT* result, void* userData);

}  // namespace web
