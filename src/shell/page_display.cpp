#include "shell/page_display.h"

#include "platform/message_box.h"
#include "platform/process.h"
#include "shell/page_calls.h"
#include "shell/updater.h"

namespace shell {

std::u16string PageDisplay::messageText(std::int32_t id) { return shell::messageText(id); }

void PageDisplay::showStatusText(const std::u16string& text) { shell::showStatusText(text); }

void PageDisplay::showProgress(std::uint16_t percent) { shell::showProgress(percent); }

void PageDisplay::enablePlay() {
  if (!pageReady()) return;
  activeUpdater->setProgressBar(100);
  activeUpdater->disablePlayButton(false);
}

void PageDisplay::showError(const std::u16string& text) {
  platform::messageBox(nullptr, text, u"Error", platform::kMbIconInformation);
}

void PageDisplay::endProcess() { platform::exitProcess(0); }

}  // namespace shell
