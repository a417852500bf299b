#include "gtk/gui_support.h"

#include <gtest/gtest.h>

namespace guitest {

namespace {

gboolean setFlag(gpointer flag) {
  *static_cast<bool*>(flag) = true;
  return G_SOURCE_REMOVE;
}

gboolean keepAwake(gpointer) { return G_SOURCE_CONTINUE; }

}  // namespace

bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  bool expired = false;
  const guint deadline = g_timeout_add(static_cast<guint>(limit.count()), setFlag, &expired);
  const guint recheck = g_timeout_add(25, keepAwake, nullptr);
  bool held = done();
  while (!held && !expired) {
    g_main_context_iteration(nullptr, TRUE);
    held = done();
  }
  g_source_remove(recheck);
  if (!expired) g_source_remove(deadline);
  return held;
}

void pumpFor(std::chrono::milliseconds duration) {
  bool over = false;
  g_timeout_add(static_cast<guint>(duration.count()), setFlag, &over);
  while (!over) g_main_context_iteration(nullptr, TRUE);
}

std::u16string pageUrl(const char* path) {
  std::u16string url = u"http://127.0.0.1";
  for (const char* c = path; *c != '\0'; ++c) url += static_cast<char16_t>(*c);
  return url;
}

std::intptr_t TestDialog::processMessage(platform::DialogMessage message, std::uintptr_t argument) {
  messages.push_back(message);
  switch (message) {
    case platform::DialogMessage::InitDialog:
      if (onInit) onInit();
      return 1;
    case platform::DialogMessage::Timer:
      if (onTimer) onTimer(argument);
      return 0;
    case platform::DialogMessage::Close:
      if (onClose) onClose();
      return 0;
    case platform::DialogMessage::Wake:
      wakes.push_back(argument);
      if (onWake) onWake(argument);
      return 0;
    case platform::DialogMessage::Destroy: return 0;
  }
  return 0;
}

std::intptr_t runInDialog(const std::function<void(TestDialog&)>& body) {
  TestDialog dialog;
  dialog.onInit = [&] {
    body(dialog);
    dialog.endDialog(0);  // false when the body ended it already: the first value stays
  };
  return dialog.doModal(nullptr, 0);
}

bool loadPage(platform::DialogImpl& dialog, const char* path, LoadedPage* page) {
  platform::Rect rect;
  if (!platform::windowRect(dialog.window(), &rect)) return false;
  platform::Point topLeft{rect.left, rect.top};
  platform::Point bottomRight{rect.right, rect.bottom};
  platform::screenToClient(dialog.window(), &topLeft);
  platform::screenToClient(dialog.window(), &bottomRight);
  page->host = platform::createBrowserHostWindow(dialog.window(),
                                                 platform::Rect{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y});
  if (page->host == nullptr) return false;
  if (FAILED(platform::createWebBrowser(page->host, &page->browser))) return false;
  if (FAILED(page->browser->navigate(pageUrl(path)))) return false;
  // Wait for the new document: the view may still show an earlier one.
  const bool complete = pumpUntil([&] {
    if (FAILED(page->browser->document(&page->document2, &page->document3))) return false;
    std::u16string state;
    if (FAILED(page->document2->readyState(&state)) || state != u"complete") return false;
    return true;
  });
  return complete;
}

VARIANT textVariant(std::u16string_view text) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = platform::allocBstr(text);
  return value;
}

VARIANT intVariant(int value, VARTYPE type) {
  VARIANT variant;
  VariantInit(&variant);
  variant.vt = type;
  if (type == VT_I4) {
    variant.lVal = value;
  } else {
    variant.intVal = value;
  }
  return variant;
}

VARIANT boolVariant(bool value) {
  VARIANT variant;
  VariantInit(&variant);
  variant.vt = VT_BOOL;
  variant.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return variant;
}

HRESULT callPage(platform::HtmlDocument2& document, const char16_t* name, VARIANT argument, VARIANT* result) {
  platform::ComPtr<IDispatch> script;
  HRESULT status = document.script(script.put());
  if (FAILED(status)) {
    VariantClear(&argument);
    return status;
  }
  std::u16string nameText(name);
  LPOLESTR names[] = {nameText.data()};
  DISPID id = DISPID_UNKNOWN;
  status = script->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &id);
  if (id == DISPID_UNKNOWN) {
    VariantClear(&argument);
    return FAILED(status) ? status : E_FAIL;
  }
  DISPPARAMS params{&argument, nullptr, 1, 0};
  EXCEPINFO exception{};
  UINT argError = static_cast<UINT>(-1);
  VariantInit(result);
  status = script->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, result, &exception, &argError);
  VariantClear(&argument);
  return status;
}

std::u16string callPageText(platform::HtmlDocument2& document, const char16_t* name) {
  VARIANT result;
  VARIANT none;
  VariantInit(&none);
  callPage(document, name, none, &result);
  std::u16string text = result.vt == VT_BSTR ? platform::bstrText(result.bstrVal) : u"<not a text>";
  VariantClear(&result);
  return text;
}

platform::ComPtr<RecordingHandler> RecordingHandler::make() {
  return platform::ComPtr<RecordingHandler>(new RecordingHandler);
}

HRESULT RecordingHandler::QueryInterface(REFIID riid, void** object) {
  *object = nullptr;
  if (!(riid == IID_IUnknown) && !(riid == IID_IDispatch)) return E_NOINTERFACE;
  *object = static_cast<IDispatch*>(this);
  AddRef();
  return S_OK;
}

ULONG RecordingHandler::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT RecordingHandler::Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO*, UINT*) {
  members.push_back(member);
  EXPECT_EQ(flags, DISPATCH_METHOD);
  EXPECT_TRUE(params != nullptr && params->cArgs == 0);
  EXPECT_TRUE(result != nullptr);
  if (onInvoke) onInvoke();
  return S_OK;
}

}  // namespace guitest
