// Calls into the launcher page's script. Every call looks the function up
// anew, so a page that defines or replaces a function later is served by the
// next call.
#pragma once

#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "platform/automation.h"

namespace web {

// The one error the launcher raises: an automation string could not be
// allocated. It carries E_OUTOFMEMORY. The page calls catch it
// (shell/page_calls.cpp) and drop the call, as one the page did not answer:
// it never reaches a Windows frame.
struct AutomationError : std::bad_alloc {
  explicit AutomationError(std::int32_t hr) : code(hr) {}
  const char* what() const noexcept override { return "automation string allocation failed"; }
  std::int32_t code;
};
[[noreturn]] void raiseOutOfMemory();

// A copy of the text as an automation string; raises AutomationError when it
// cannot be allocated.
BSTR copyOrRaise(std::u16string_view text);

// Arguments for a page function. A text argument takes over the string (a
// null one passes a null text).
platform::Variant textArgument(BSTR text);
platform::Variant intArgument(std::int32_t number);
platform::Variant boolArgument(bool flag);

// Whether the script defines the function.
bool scriptDefines(IDispatch* script, const char16_t* function);

// Calls one function of the script with one argument, if the script defines
// it. What the function answers is returned when it is a text: anything else
// has no meaning to the launcher and reads as the page not answering.
std::optional<std::u16string> callScript(IDispatch* script, const char16_t* function, platform::Variant argument);

}  // namespace web
