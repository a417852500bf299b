// Opening a document or address with the desktop's handler, shaped after
// ShellExecuteW(nullptr, "open", target, nullptr, nullptr, SW_SHOWNORMAL).
#pragma once

#include <string_view>

namespace platform {

// Asks the desktop to open the target; the outcome is not reported.
void shellOpen(std::u16string_view target);

}  // namespace platform
