// Hosting the launcher page: the dialog creates the browser and navigates it
// to the page for the player's language, then waits tick by tick for the
// page, accepts it once it proves to be the launcher page, and from then on
// drives the update run.
#include "web/page_host.h"

#include <algorithm>
#include <cstdlib>

#include "platform/message_box.h"
#include "platform/process.h"
#include "settings/installation_settings.h"
#include "shell/updater.h"
#include "web/message_catalogue.h"
#include "web/navigation_rule.h"
#include "web/page_bridge.h"

#ifndef GLIMMERHOLD_PAGE_HOST
#define GLIMMERHOLD_PAGE_HOST "127.0.0.1"
#endif

std::u16string pageAddress(std::string_view language) {
  std::u16string address = u"http://";
  for (const char* c = GLIMMERHOLD_PAGE_HOST; *c != '\0'; ++c) {
    address += static_cast<char16_t>(static_cast<unsigned char>(*c));
  }
  address += u"/instalador.php?lang=";
  for (std::size_t i = 0; i < language.size() && i < 2; ++i) {
    char16_t c = static_cast<unsigned char>(language[i]);
    // The C library's lower-casing in its default locale: ASCII letters only.
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    address += c;
  }
  return address;
}

long pageDimension(const std::optional<std::u16string>& attribute, long fallback) {
  if (!attribute) return fallback;
  const std::u16string& text = *attribute;
  std::size_t i = 0;
  auto isSpace = [](char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); };
  while (i < text.size() && isSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  long value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    // Beyond the largest window any screen shows the number stops mattering.
    value = std::min(value * 10 + (text[i] - u'0'), kMaxPageDimension);
  }
  return negative ? 0 : value;
}

namespace {

std::optional<std::u16string> bodyAttribute(platform::HtmlElement* body, std::u16string_view name) {
  if (body == nullptr) return std::nullopt;
  VARIANT value;
  VariantInit(&value);
  std::optional<std::u16string> text;
  if (SUCCEEDED(body->getAttribute(name, &value)) && value.vt == VT_BSTR) {
    text = platform::bstrText(value.bstrVal);
  }
  VariantClear(&value);
  return text;
}

// Whether the page's script defines the function.
bool pageDefines(IDispatch* script, const char16_t* function) {
  if (script == nullptr) return false;
  BSTR name = SysAllocString(reinterpret_cast<const OLECHAR*>(function));
  if (name == nullptr) raiseOutOfMemory();
  DISPID member = DISPID_UNKNOWN;
  LPOLESTR names[] = {name};
  HRESULT found = script->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &member);
  SysFreeString(name);
  return SUCCEEDED(found) && member != DISPID_UNKNOWN;
}

}  // namespace

std::intptr_t Updater::onInitDialog() {
  document.reset();
  document3.reset();
  pageLoading = true;
  halted = false;
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
  if (browser) {
    const std::u16string address = pageAddress(currentLanguage);
    browser->setNavigationFilter([address](std::u16string_view url, bool topFrame) {
      return launcherNavigationAllowed(address, url, topFrame);
    });
    browser->navigate(address);
  }

  platform::setTimer(window(), PageTimer, kPageTimerPeriod);
  return 1;
}

std::intptr_t Updater::onTimer() {
  // Re-entered from a nested message loop: the update run is in the middle
  // of a step (it may be about to delete the job this tick would poll). The
  // next tick comes a period later.
  if (halted || busyDepth > 0) return 0;
  BusyScope busy(busyDepth);
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

void Updater::runPageReadySteps() {
  document->script(script.put());
  bool isLauncherPage = pageDefines(script.get(), u"setVariableText");
  script.reset();
  if (!isLauncherPage) {
    // Not the launcher page: the browser's own error page after a failed
    // navigation, or something else the host answered with.
    halted = true;
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
