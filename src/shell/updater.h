// The launcher's one window: a borderless modal dialog whose face is the
// launcher page. It owns the update run and the browser, drives both from its
// one timer, and carries the page calls and element bindings.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/automation.h"
#include "platform/browser.h"
#include "platform/window.h"
#include "shell/page_display.h"
#include "update/update_run.h"
#include "web/element_events.h"

namespace shell {

// The dialog's only timer.
constexpr std::uintptr_t PageTimer = 100;
constexpr unsigned kPageTimerPeriod = 250;

// The id of the wake a finished download posts to the dialog.
constexpr std::uintptr_t kDownloadWake = 1;

// Whether this launcher is paced by the link (the GLIMMERHOLD_LINK_PACED
// build setting): a download that ends wakes the dialog at once, which
// records the file and starts the next without waiting for a tick.
// Otherwise the ticks alone drive the run: a file is recorded on the tick
// after it arrives, and the next starts on the tick after that.
#ifdef GLIMMERHOLD_LINK_PACED
constexpr bool kLinkPaced = true;
#else
constexpr bool kLinkPaced = false;
#endif

// How long the launcher waits for its page, from the navigation, while no
// page is shown: long enough for a slow link. A page that has not been
// accepted by then (the player is offline, the page host is down, a part of
// the page never arrives) gives the "server not available" box and the
// launcher ends, so no hidden launcher keeps the installation's lock.
constexpr std::chrono::milliseconds kPageReadyLimit{60000};
// The limit in force: kPageReadyLimit in the launcher; a test program may
// shorten it before the dialog starts. No page can change it.
extern std::chrono::milliseconds pageReadyLimit;

// The value every way of ending the dialog ends it with.
constexpr std::intptr_t kDialogEndValue = 2;

// Counts itself into a busy depth for its lifetime.
class BusyScope {
 public:
  explicit BusyScope(int& depth) : depth_(depth) { ++depth_; }
  ~BusyScope() { --depth_; }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  int& depth_;
};

class Updater : public platform::DialogImpl {
 public:
  Updater();
  ~Updater() override;
  Updater(const Updater&) = delete;
  Updater& operator=(const Updater&) = delete;
  Updater(Updater&&) = delete;
  Updater& operator=(Updater&&) = delete;

  std::intptr_t processMessage(platform::DialogMessage message, std::uintptr_t argument) override;

  // Page hosting: creates the browser and starts the page; then, tick by
  // tick, waits for the page, accepts it and drives the update run.
  std::intptr_t onInitDialog();
  std::intptr_t onTimer();
  // A download ended (kLinkPaced builds): the run records it and starts the
  // next file now. Left to the ticks while the page is not accepted, the
  // dialog is halted, or a tick or page call is running.
  std::intptr_t onWake();
  std::intptr_t onClose();
  std::intptr_t onDestroy();

  // Page calls. Callers make them only while the page is ready. The two text
  // calls take over the text and free it before they return.
  void setVariableText(BSTR text);
  void setButtonText(BSTR text);
  void setProgressBar(std::int32_t value);
  void disablePlayButton(bool disabled);
  std::u16string localization(std::int32_t id);

  // Element bindings, made once the page is ready.
  void bindElementMouseDown(std::u16string_view id, web::ElementCallback callback);
  void bindExternalLinks();

  // What the update run shows goes to the page through this.
  PageDisplay pageDisplay;
  update::UpdateRun updateRun{pageDisplay};
  std::shared_ptr<platform::HtmlDocument2> document;
  std::shared_ptr<platform::HtmlDocument3> document3;
  std::unique_ptr<platform::WebBrowser2> browser;
  bool pageLoading = false;
  bool halted = false;
  // When the dialog navigated to the page; pageReadyLimit counts from here.
  std::chrono::steady_clock::time_point navigatedAt;
  // The control's navigation to the page failed and no page is shown yet:
  // the control's own error page may follow (see launcherNavigationAllowed).
  bool navigationFailed = false;
  // How many ticks and page calls are running now. A page function runs
  // synchronously and may run a nested message loop (an alert, the
  // slow-script prompt, the engine's own boxes), as does a message box the
  // launcher shows from a tick; a tick that such a loop delivers finds this
  // above 0 and is dropped.
  int busyDepth = 0;
  platform::ComPtr<IDispatch> script;
  platform::WindowHandle hostWindow = nullptr;

 private:
  void runPageReadySteps();
  // No page was accepted within pageReadyLimit: the box, and the dialog ends.
  void giveUpOnThePage();
  // Calls one page function with one argument; what it answers, when that
  // is a text.
  std::optional<std::u16string> callPage(const char16_t* function, platform::Variant argument);

  // The link elements whose handlers carry them as user data: kept for as
  // long as the page lives.
  std::vector<std::shared_ptr<platform::HtmlElement>> linkElements_;
};

// The running dialog; null before it initialises and after it is destroyed.
extern Updater* activeUpdater;

// True while the running dialog's page has been accepted.
bool pageReady();

// Element callbacks for Play and Close.
void playGame(VARIANT* result, void* userData);
void closeLauncher(VARIANT* result, void* userData);

}  // namespace shell
