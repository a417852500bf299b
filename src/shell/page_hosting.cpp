// Hosting the launcher page: the dialog creates the browser and navigates it
// to the page for the player's language, then waits tick by tick for the
// page, accepts it once it proves to be the launcher page, and from then on
// drives the update run.
#include <memory>
#include <new>

#include "platform/message_box.h"
#include "platform/process.h"
#include "settings/installation_settings.h"
#include "shell/page_calls.h"
#include "shell/updater.h"
#include "update/messages.h"
#include "update/run_log.h"
#include "web/navigation_rule.h"
#include "web/page_bridge.h"
#include "web/page_host.h"

namespace shell {

std::chrono::milliseconds pageReadyLimit = kPageReadyLimit;

using settings::currentLanguage;
using update::kMsgCaption;
using update::kMsgInvalidResponse;
using update::kMsgNotInstalled;
using update::kMsgPlay;
using update::kMsgServerUnavailable;
using update::kMsgStarting;
using web::attachMouseDownHandler;
using web::bodyAttribute;
using web::ElementCallback;
using web::externalAddress;
using web::launcherNavigationAllowed;
using web::openExternalLink;
using web::pageAddress;
using web::pageDimension;
using web::scriptDefines;

std::intptr_t Updater::onInitDialog() {
  document.reset();
  document3.reset();
  pageLoading = true;
  halted = false;
  navigationFailed = false;
  activeUpdater = this;

  platform::Rect rect;
  if (platform::windowRect(window(), &rect)) {
    platform::Point topLeft{rect.left, rect.top};
    platform::Point bottomRight{rect.right, rect.bottom};
    if (platform::screenToClient(window(), &topLeft)) platform::screenToClient(window(), &bottomRight);
    rect = {topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
  }
  platform::centerWindow(window());
  platform::showWindow(window(), platform::ShowCommand::Minimized);

  if (!updateRun.loadLocalList()) {
    // The installation went away after the launcher started: nothing is
    // fetched, and the dialog ends with the not-installed box.
    platform::messageBox(nullptr, messageText(kMsgNotInstalled), messageText(kMsgCaption), platform::kMbOk);
    endDialog(kDialogEndValue);
    return 1;
  }

  hostWindow = platform::createBrowserHostWindow(window(), rect);
  platform::createWebBrowser(hostWindow, &browser);
  // Without a browser nothing ever arrives either: the limit counts anyway.
  navigatedAt = std::chrono::steady_clock::now();
  if (browser) {
    const std::u16string address = pageAddress(currentLanguage);
    browser->setNavigationFilter(
        [this, address](platform::NavigationEvent event, std::u16string_view url, bool topFrame) {
          if (event == platform::NavigationEvent::Failed) {
            // The control shows its own error page for a failed navigation to
            // the launcher page, so the handshake can reject it with its box.
            // Once a page is shown, the rule holds the view to the page's host.
            // Frames inside the page show theirs as they always did.
            if (!topFrame) return true;
            const bool showErrorPage = pageLoading && launcherNavigationAllowed(address, url, true, false);
            if (showErrorPage) navigationFailed = true;
            return showErrorPage;
          }
          return launcherNavigationAllowed(address, url, topFrame, navigationFailed && pageLoading);
        });
    browser->navigate(address);
  }

  platform::setTimer(window(), PageTimer, kPageTimerPeriod);
  if (kLinkPaced) {
    // The worker holds only the window's handle: a wake for a dialog that is
    // gone is not posted, or reaches nothing.
    updateRun.jobEnded = [dialog = window()] { platform::postWake(dialog, kDownloadWake); };
  }
  return 1;
}

std::intptr_t Updater::onTimer() {
  // Re-entered from a nested message loop: the update run is in the middle
  // of a step (it may be about to delete the job this tick would poll). The
  // next tick comes a period later.
  if (halted || busyDepth > 0) return 0;
  BusyScope busy(busyDepth);
  if (pageLoading && std::chrono::steady_clock::now() - navigatedAt >= pageReadyLimit) {
    giveUpOnThePage();
    return 0;
  }
  if (!document) {
    platform::showWindow(window(), platform::ShowCommand::Hide);
    std::shared_ptr<platform::HtmlDocument2> document2;
    std::shared_ptr<platform::HtmlDocument3> lookup;
    if (!browser || FAILED(browser->document(&document2, &lookup)) || !document2) return 0;
    document = std::move(document2);
    document3 = std::move(lookup);
    return 0;
  }
  std::u16string state;
  if (FAILED(document->readyState(&state))) state.clear();
  if (pageLoading && state == u"complete") runPageReadySteps();
  updateRun.tick();
  return 0;
}

void Updater::giveUpOnThePage() {
  halted = true;
  platform::killTimer(window(), PageTimer);
  update::runLog().write("no page within " + std::to_string(pageReadyLimit.count() / 1000) +
                         " s: the page host is not reachable or the page never completed");
  // No page, so no catalogue: the English text.
  platform::messageBox(window(), messageText(kMsgServerUnavailable), messageText(kMsgCaption), platform::kMbOk);
  // Nothing was fetched or started yet: the dialog ends, and with it the
  // launcher, which lets go of the installation's lock.
  endDialog(kDialogEndValue);
}

void Updater::runPageReadySteps() {
  document->script(script.put());
  bool isLauncherPage = false;
  try {
    isLauncherPage = scriptDefines(script.get(), u"setVariableText");
  } catch (const std::bad_alloc&) {
    // No memory to ask the page: asked again on the next tick.
    script.reset();
    return;
  }
  script.reset();
  if (!isLauncherPage) {
    // Not the launcher page: the browser's own error page after a failed
    // navigation, or something else the host answered with.
    halted = true;
    update::runLog().write("page rejected: not the launcher page (no setVariableText)");
    platform::messageBox(window(), messageText(kMsgInvalidResponse), messageText(kMsgCaption), platform::kMbOk);
    platform::exitProcess(0);
  }

  std::shared_ptr<platform::HtmlElement> body;
  if (FAILED(document->body(&body))) body.reset();
  long width = pageDimension(bodyAttribute(body.get(), u"xwidth"), platform::kTemplateWidth);
  long height = pageDimension(bodyAttribute(body.get(), u"xheight"), platform::kTemplateHeight);
  platform::resizeClient(window(), static_cast<int>(width), static_cast<int>(height));
  platform::resizeClient(hostWindow, static_cast<int>(2 * width), static_cast<int>(2 * height));
  body.reset();

  pageLoading = false;
  updateRun.startListFetch();
  bindElementMouseDown(u"boton-jugar", playGame);
  bindElementMouseDown(u"boton-cerrar", closeLauncher);
  showProgress(0);
  showStatusText(messageText(kMsgStarting));
  showPlayButtonText(messageText(kMsgPlay));
  disablePlayButton(true);
  bindExternalLinks();
  platform::showWindow(window(), platform::ShowCommand::Normal);
}

void Updater::bindElementMouseDown(std::u16string_view id, ElementCallback callback) {
  if (!document3) return;
  std::shared_ptr<platform::HtmlElement> element;
  if (FAILED(document3->elementById(id, &element)) || !element) return;
  attachMouseDownHandler(*element, callback, this);
}

void Updater::bindExternalLinks() {
  if (!document3) return;
  std::shared_ptr<platform::HtmlElementCollection> links;
  if (FAILED(document3->elementsByTagName(u"a", &links)) || !links) return;
  long count = 0;
  if (FAILED(links->length(&count))) return;
  for (long i = 0; i < count; ++i) {
    platform::Variant index;
    index.get()->vt = VT_INT;
    index.get()->intVal = static_cast<int>(i);
    std::shared_ptr<platform::HtmlElement> element;
    if (FAILED(links->item(index.value(), index.value(), &element)) || !element) continue;
    if (!externalAddress(*element)) continue;
    attachMouseDownHandler(*element, openExternalLink, element.get());
    linkElements_.push_back(std::move(element));
  }
}

}  // namespace shell
