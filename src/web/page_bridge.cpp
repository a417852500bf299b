// Calls into the launcher page's script. Every call looks the script object
// and the function up anew, so a page that defines or replaces a function
// later is served by the next call.
#include "web/page_bridge.h"

#include "shell/updater.h"

namespace {

const char16_t* const kUnknownText = u"<unknow>";

VARIANT textArgument(BSTR text) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = text;
  return value;
}

VARIANT intArgument(std::int32_t number) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_INT;
  value.intVal = number;
  return value;
}

BSTR copyOrRaise(std::u16string_view text) {
  BSTR copy = platform::allocBstr(text);
  if (copy == nullptr) raiseOutOfMemory();
  return copy;
}

}  // namespace

[[noreturn]] void raiseOutOfMemory() { throw AutomationError(E_OUTOFMEMORY); }

void Updater::callPage(const char16_t* function, VARIANT& argument, std::optional<std::u16string>* text) {
  BSTR name = nullptr;
  if (document && SUCCEEDED(document->script(script.put())) && script) {
    name = SysAllocString(reinterpret_cast<const OLECHAR*>(function));
    if (name == nullptr) {
      VariantClear(&argument);
      script.reset();
      raiseOutOfMemory();
    }
    DISPID member = DISPID_UNKNOWN;
    LPOLESTR names[] = {name};
    HRESULT found = script->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &member);
    if (SUCCEEDED(found) && member != DISPID_UNKNOWN) {
      DISPPARAMS params{&argument, nullptr, 1, 0};
      VARIANT result;
      VariantInit(&result);
      EXCEPINFO exception{};
      UINT argError = static_cast<UINT>(-1);
      BusyScope busy(busyDepth);
      script->Invoke(member, IID_NULL, 0, DISPATCH_METHOD, &params, &result, &exception, &argError);
      SysFreeString(exception.bstrSource);
      SysFreeString(exception.bstrDescription);
      SysFreeString(exception.bstrHelpFile);
      // Anything but a text from "localization" has no meaning to the
      // launcher; it reads as the page not answering.
      if (text != nullptr && result.vt == VT_BSTR) *text = platform::bstrText(result.bstrVal);
      VariantClear(&result);
    }
  }
  VariantClear(&argument);
  script.reset();
  SysFreeString(name);
}

void Updater::setVariableText(BSTR text) {
  VARIANT argument = textArgument(text);
  callPage(u"setVariableText", argument, nullptr);
}

void Updater::setButtonText(BSTR text) {
  VARIANT argument = textArgument(text);
  callPage(u"setButtonText", argument, nullptr);
}

void Updater::setProgressBar(std::int32_t value) {
  VARIANT argument = intArgument(value);
  callPage(u"setProgressBar", argument, nullptr);
}

void Updater::disablePlayButton(bool disabled) {
  VARIANT argument;
  VariantInit(&argument);
  argument.vt = VT_BOOL;
  argument.boolVal = disabled ? VARIANT_TRUE : VARIANT_FALSE;
  callPage(u"disablePlayButton", argument, nullptr);
}

std::u16string Updater::localization(std::int32_t id) {
  VARIANT argument = intArgument(id);
  std::optional<std::u16string> text;
  callPage(u"localization", argument, &text);
  return text ? *text : std::u16string(kUnknownText);
}

void showStatusText(std::u16string text) {
  if (!pageReady()) return;
  activeUpdater->setVariableText(copyOrRaise(text));
}

void showProgress(std::uint16_t percent) {
  if (!pageReady()) return;
  activeUpdater->setProgressBar(static_cast<std::int32_t>(percent));
}

void showPlayButtonText(std::optional<std::u16string> text) {
  if (!pageReady()) return;
  activeUpdater->setButtonText(text ? copyOrRaise(*text) : nullptr);
}
