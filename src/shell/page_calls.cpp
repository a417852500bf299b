// The dialog's calls into the launcher page. Each call looks the page's
// script up anew, so a page that replaces its script is served by the next
// call.
#include "shell/page_calls.h"

#include <new>

#include "shell/updater.h"
#include "update/messages.h"
#include "web/page_bridge.h"

namespace shell {

using update::englishDefault;
using web::boolArgument;
using web::callScript;
using web::copyOrRaise;
using web::intArgument;
using web::textArgument;

namespace {

const char16_t* const kUnknownText = u"<unknow>";

// A page call that cannot be made for want of memory (the automation string
// of the function's name or of the text, the copy of the answer) is a page
// call that failed: nothing reaches the page, and the launcher goes on, as
// after a page function's own error. The page bridge's out-of-memory error
// ends here, on the UI thread, before it could unwind into the window
// procedure that runs the tick.
template <typename Call>
void dropIfOutOfMemory(Call call) {
  try {
    call();
  } catch (const std::bad_alloc&) {
    // The call is dropped.
  }
}

}  // namespace

std::optional<std::u16string> Updater::callPage(const char16_t* function, platform::Variant argument) {
  if (!document || FAILED(document->script(script.put())) || !script) {
    script.reset();
    return std::nullopt;
  }
  BusyScope busy(busyDepth);
  std::optional<std::u16string> answer;
  dropIfOutOfMemory([&] { answer = callScript(script.get(), function, std::move(argument)); });
  script.reset();
  return answer;
}

void Updater::setVariableText(BSTR text) { callPage(u"setVariableText", textArgument(text)); }

void Updater::setButtonText(BSTR text) { callPage(u"setButtonText", textArgument(text)); }

void Updater::setProgressBar(std::int32_t value) { callPage(u"setProgressBar", intArgument(value)); }

void Updater::disablePlayButton(bool disabled) { callPage(u"disablePlayButton", boolArgument(disabled)); }

std::u16string Updater::localization(std::int32_t id) {
  std::optional<std::u16string> text = callPage(u"localization", intArgument(id));
  return text ? *text : std::u16string(kUnknownText);
}

std::u16string messageText(std::int32_t id) {
  if (pageReady()) return activeUpdater->localization(id);
  return englishDefault(id);
}

void showStatusText(const std::u16string& text) {
  if (!pageReady()) return;
  dropIfOutOfMemory([&] { activeUpdater->setVariableText(copyOrRaise(text)); });
}

void showProgress(std::uint16_t percent) {
  if (!pageReady()) return;
  activeUpdater->setProgressBar(static_cast<std::int32_t>(percent));
}

void showPlayButtonText(std::optional<std::u16string> text) {
  if (!pageReady()) return;
  dropIfOutOfMemory([&] { activeUpdater->setButtonText(text ? copyOrRaise(*text) : nullptr); });
}

}  // namespace shell
