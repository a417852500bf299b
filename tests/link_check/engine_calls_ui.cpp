// An engine file that calls into the user interface, as update/ or net/
// must not: linked like engine_alone.cpp, it must fail with the undefined
// message box (the test engine_calls_ui_fails_to_link).
#include "platform/message_box.h"

namespace update {

int askThePlayer() { return platform::messageBox(nullptr, u"text", u"caption", 0); }

}  // namespace update
