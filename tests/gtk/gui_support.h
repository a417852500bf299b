// Helpers of the GUI tests: waiting on the main loop, a dialog whose
// handlers the test supplies, a page loaded into a real browser, and an
// automation handler that records its calls.
#pragma once

#include <gtk/gtk.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/automation.h"
#include "platform/browser.h"
#include "platform/window.h"

namespace guitest {

using namespace std::chrono_literals;

// Runs the main loop until `done` holds, re-checking it at least every 25 ms,
// for at most `limit`. Returns whether it held.
bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 15s);

// Runs the main loop for the given time (to see that something does NOT happen).
void pumpFor(std::chrono::milliseconds duration);

// The address of a test page on the loopback server ("/page.html", ...).
std::u16string pageUrl(const char* path);

// The directory of the fake desktop opener that the tests put first on PATH.
const std::string& openerDir();

// A dialog whose message handlers are the test's functions.
class TestDialog : public platform::DialogImpl {
 public:
  std::function<void()> onInit;
  std::function<void(std::uintptr_t id)> onTimer;
  std::function<void()> onClose;
  std::function<void(std::uintptr_t id)> onWake;
  std::vector<platform::DialogMessage> messages;
  std::vector<std::uintptr_t> wakes;  // the ids of the wakes delivered

  std::intptr_t processMessage(platform::DialogMessage message, std::uintptr_t argument) override;
};

// Runs a dialog modally; the test body runs as its InitDialog handler, after
// which the dialog ends (with 0) unless the body ended it already.
std::intptr_t runInDialog(const std::function<void(TestDialog&)>& body);

// A page shown in a browser that fills the dialog.
struct LoadedPage {
  platform::WindowHandle host = nullptr;
  std::unique_ptr<platform::WebBrowser2> browser;
  std::shared_ptr<platform::HtmlDocument2> document2;
  std::shared_ptr<platform::HtmlDocument3> document3;
};

// Creates the host and the browser in the dialog, navigates to the page and
// waits until its document is "complete".
bool loadPage(platform::DialogImpl& dialog, const char* path, LoadedPage* page);

// Calls a page function with one argument through the script object.
HRESULT callPage(platform::HtmlDocument2& document, const char16_t* name, VARIANT argument, VARIANT* result);
std::u16string callPageText(platform::HtmlDocument2& document, const char16_t* name);

VARIANT textVariant(std::u16string_view text);  // the caller clears it
VARIANT intVariant(int value, VARTYPE type = VT_INT);
VARIANT boolVariant(bool value);

// An element event handler for the tests: counts its Invokes and the member
// ids it was called with, and runs `onInvoke` on each.
class RecordingHandler final : public IDispatch {
 public:
  static platform::ComPtr<RecordingHandler> make();

  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override { return ++references_; }
  ULONG Release() override;
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return S_OK; }
  HRESULT Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                 UINT*) override;

  ULONG references() const { return references_; }
  std::vector<DISPID> members;
  std::function<void()> onInvoke;

  VARIANT asVariant() {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_DISPATCH;
    value.pdispVal = this;
    return value;
  }

 private:
  RecordingHandler() = default;
  ~RecordingHandler() = default;
  std::atomic<ULONG> references_{1};
};

}  // namespace guitest
