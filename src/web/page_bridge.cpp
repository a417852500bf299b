#include "web/page_bridge.h"

namespace web {

namespace {

// The function's member id, or DISPID_UNKNOWN when the script has none.
DISPID memberOf(IDispatch* script, const char16_t* function) {
  platform::Bstr name(function);
  if (name.get() == nullptr) raiseOutOfMemory();
  DISPID member = DISPID_UNKNOWN;
  LPOLESTR names[] = {name.get()};
  if (FAILED(script->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &member))) return DISPID_UNKNOWN;
  return member;
}

}  // namespace

[[noreturn]] void raiseOutOfMemory() { throw AutomationError(E_OUTOFMEMORY); }

BSTR copyOrRaise(std::u16string_view text) {
  BSTR copy = platform::allocBstr(text);
  if (copy == nullptr) raiseOutOfMemory();
  return copy;
}

platform::Variant textArgument(BSTR text) {
  VARIANT value{};
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = text;
  return platform::Variant(value);
}

platform::Variant intArgument(std::int32_t number) {
  platform::Variant value;
  value.get()->vt = VT_INT;
  value.get()->intVal = number;
  return value;
}

platform::Variant boolArgument(bool flag) {
  platform::Variant value;
  value.get()->vt = VT_BOOL;
  value.get()->boolVal = flag ? VARIANT_TRUE : VARIANT_FALSE;
  return value;
}

bool scriptDefines(IDispatch* script, const char16_t* function) {
  return script != nullptr && memberOf(script, function) != DISPID_UNKNOWN;
}

std::optional<std::u16string> callScript(IDispatch* script, const char16_t* function, platform::Variant argument) {
  if (script == nullptr) return std::nullopt;
  const DISPID member = memberOf(script, function);
  if (member == DISPID_UNKNOWN) return std::nullopt;
  DISPPARAMS params{argument.get(), nullptr, 1, 0};
  platform::Variant result;
  EXCEPINFO exception{};
  UINT argError = static_cast<UINT>(-1);
  script->Invoke(member, IID_NULL, 0, DISPATCH_METHOD, &params, result.get(), &exception, &argError);
  // The page's own exception texts, if it raised one.
  const platform::Bstr source = platform::Bstr::adopt(exception.bstrSource);
  const platform::Bstr description = platform::Bstr::adopt(exception.bstrDescription);
  const platform::Bstr helpFile = platform::Bstr::adopt(exception.bstrHelpFile);
  if (result.value().vt != VT_BSTR) return std::nullopt;
  return platform::bstrText(result.value().bstrVal);
}

}  // namespace web
