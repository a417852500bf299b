// The dialog's calls into the launcher page. Each call looks the page's
// script up anew, so a page that replaces its script is served by the next
// call.
#include "shell/page_calls.h"

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

}  // namespace

std::optional<std::u16string> Updater::callPage(const char16_t* function, platform::Variant argument) {
  if (!document || FAILED(document->script(script.put())) || !script) {
    script.reset();
    return std::nullopt;
  }
  BusyScope busy(busyDepth);
  std::optional<std::u16string> answer = callScript(script.get(), function, std::move(argument));
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

}  // namespace shell
