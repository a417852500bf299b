// Synchronous calls into the page's script.
//
// Workaround for WebKit's asynchronous script calls: this file and
// postUiWork exist for it. It can go when the launcher's page calls no
// longer need their answer at once (the page protocol made asynchronous),
// since WebKitGTK offers no synchronous evaluation.
//
// WebKit runs page script in another process and answers asynchronously,
// while the launcher expects a page function to have run to its end when the
// call returns. A call therefore iterates the main loop until the answer is
// there. Whatever else is due on the loop meanwhile must not re-enter the
// dialog in the middle of a page call, so:
//   - timer ticks skip themselves while pageCallDepth() > 0;
//   - work that reacts to the page or the window system (mouse-down handlers,
//     close requests) is posted with postUiWork and runs from the main loop
//     once no page call is waiting.
#pragma once

#include <glib.h>
#include <webkit2/webkit2.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace platform::gtk {

// A primitive script value, as far as the launcher can use it.
struct ScriptValue {
  enum class Kind { Undefined, Null, String, Number, Boolean, Other };
  Kind kind = Kind::Undefined;
  std::string text;  // UTF-8, for String
  double number = 0;
  bool boolean = false;
};

struct ScriptCall {
  enum class Outcome {
    Done,         // the function returned `value`
    ScriptError,  // the function threw
    Failed,       // no answer: no view, web process gone, or timed out
  };
  Outcome outcome = Outcome::Failed;
  ScriptValue value;

  bool done() const { return outcome == Outcome::Done; }
};

// Runs `body` as the body of a function in the page's own script world, with
// the entries of `arguments` (a floating or owned a{sv} GVariant, consumed
// here; may be null) as its named parameters, and waits for its result.
ScriptCall callPageScript(WebKitWebView* view, std::string_view body, GVariant* arguments);

// How many page calls are waiting for their answer right now.
int pageCallDepth();

// Queues work to run from the main loop, in order, at a moment when no page
// call is waiting.
void postUiWork(std::function<void()> work);

// A page call that gets no answer within this time fails, so that a hung or
// dead web process cannot hang the launcher. Returns the previous limit.
std::chrono::milliseconds setPageCallTimeout(std::chrono::milliseconds limit);

}  // namespace platform::gtk
