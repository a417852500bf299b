// The dialog's life with the launcher page, against a scripted page: the
// address, the wait for the document, the handshake, the first texts, and
// the gate that keeps page calls away until the page is accepted.
#include <gtest/gtest.h>

#include <algorithm>

#include "settings/installation_settings.h"
#include "shell/page_calls.h"
#include "shell/updater.h"
#include "support/fake_ui.h"
#include "support/launcher_fixture.h"
#include "support/test_http_server.h"
#include "update/messages.h"
#include "web/navigation_rule.h"
#include "web/page_bridge.h"
#include "web/page_host.h"

using settings::loadLanguage;
using shell::activeUpdater;
using shell::messageText;
using shell::PageTimer;
using shell::showPlayButtonText;
using shell::showProgress;
using shell::showStatusText;
using shell::Updater;
using web::kMaxPageDimension;
using web::launcherNavigationAllowed;
using web::pageAddress;
using web::pageDimension;

namespace {

using testsupport::fakePage;
using testsupport::fakeWindow;
using testsupport::PageValue;
constexpr platform::NavigationEvent Before = platform::NavigationEvent::Before;
constexpr platform::NavigationEvent Failed = platform::NavigationEvent::Failed;

TEST(PageAddressTest, TakesTheFirstTwoLettersOfTheLanguageLowerCased) {
  EXPECT_EQ(pageAddress("en-US"), u"http://127.0.0.1/instalador.php?lang=en");
  EXPECT_EQ(pageAddress("ES-es"), u"http://127.0.0.1/instalador.php?lang=es");
  EXPECT_EQ(pageAddress("f"), u"http://127.0.0.1/instalador.php?lang=f");
  EXPECT_EQ(pageAddress(""), u"http://127.0.0.1/instalador.php?lang=");
}

TEST(PageDimensionTest, ReadsLikeTheCLibraryAndStaysWithinAScreen) {
  EXPECT_EQ(pageDimension(std::nullopt, 755), 755);
  EXPECT_EQ(pageDimension(u"800", 755), 800);
  EXPECT_EQ(pageDimension(u"  640px", 755), 640);
  EXPECT_EQ(pageDimension(u"+12", 755), 12);
  EXPECT_EQ(pageDimension(u"wide", 755), 0);
  EXPECT_EQ(pageDimension(u"", 755), 0);
  EXPECT_EQ(pageDimension(u"-300", 755), 0);
  EXPECT_EQ(pageDimension(u"99999999999999999999999", 755), kMaxPageDimension);
}

TEST(NavigationRuleTest, TheTopFrameStaysOnThePagesHostFramesGoAnywhere) {
  const std::u16string page = u"http://launcher.example.com/instalador.php?lang=es";
  struct Row {
    std::u16string_view target;
    bool topFrame;
    bool errorPageExpected;
    bool allowed;
  };
  const Row rows[] = {
      {u"http://launcher.example.com/instalador.php?lang=es", true, false, true},   // the page, a reload
      {u"HTTPS://Launcher.Example.COM:8443/moved", true, false, true},              // its own redirect
      {u"http://launcher.example.com/instalador.php?lang=es#", true, false, true},  // an anchor
      {u"javascript:void(0)", true, false, true},
      {u"http://elsewhere.example.com/", true, false, false},
      {u"http://launcher.example.com.evil.test/", true, false, false},
      {u"http://launcher.example.com@evil.test/", true, false, false},
      {u"http://evil.test\\@launcher.example.com/", true, false, false},
      {u"about:blank", true, false, false},
      {u"res://ieframe.dll/navcancl.htm", true, false, false},
      {u"file:///C:/Windows/", true, false, false},
      {u"http:///nohost", true, false, false},
      {u"http://elsewhere.example.com/ad", false, false, true},  // a frame inside the page
      // The navigation to the page failed and no page is shown: the
      // control's own error page comes through to the handshake, nothing
      // else does.
      {u"res://ieframe.dll/dnserrordiagoff.htm#http://launcher.example.com/", true, true, true},
      {u"RES://ieframe.dll/navcancl.htm", true, true, true},
      {u"about:blank", true, true, true},
      {u"http://elsewhere.example.com/", true, true, false},
      {u"file:///C:/Windows/", true, true, false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(launcherNavigationAllowed(page, row.target, row.topFrame, row.errorPageExpected), row.allowed)
        << testsupport::narrow(std::u16string(row.target)) << " expecting an error page: " << row.errorPageExpected;
  }
}

TEST(MessageCatalogueTest, EnglishDefaultsBeforeAnyPage) {
  ASSERT_EQ(activeUpdater, nullptr);
  EXPECT_EQ(messageText(10), u"Glimmerhold Updater");
  EXPECT_EQ(messageText(5), u"");
  EXPECT_EQ(messageText(26), u"");
  EXPECT_EQ(messageText(0), u"");
  EXPECT_EQ(messageText(16), u"Invalid  Socket.");
  EXPECT_EQ(messageText(25), u"Downloading ");
  EXPECT_NE(messageText(13).find(u"don\u2019t"), std::u16string::npos);
}

class PageTest : public testsupport::LauncherTest {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    registerInstallation(install().string(), std::string("es-ES"));
    loadLanguage();
    // An update server that accepts the list request and never answers, so
    // the run's list job stays in flight for as long as a test looks.
    if (servesUpdates()) {
      server_ = std::make_unique<testsupport::TestHttpServer>(
          testsupport::TestHttpServer::always(testsupport::HttpScript().holdOpen()));
      ASSERT_TRUE(server_->listening());
    }
    fakePage().defineLauncherFunctions({{0, u"127.0.0.1/"}, {22, u"Empezando..."}, {24, u"Jugar"}});
    fakePage().readyStates = {u"loading", u"interactive", u"Complete", u"complete"};
    fakePage().elements = {
        {u"", u"body", {}, {}, 0}, {u"boton-jugar", u"div", {}, {}, 0}, {u"boton-cerrar", u"div", {}, {}, 0}};
  }

  void TearDown() override {
    dropListJob();
    shell::pageReadyLimit = shell::kPageReadyLimit;
  }

  // Ends the list job (the server lets go of it) and deletes it.
  void dropListJob() {
    if (server_) server_->stop();
    EXPECT_TRUE(testsupport::settleJob(updater.updateRun));
  }

  std::vector<std::string> eventsAfter(std::size_t from) const {
    const auto& events = fakeWindow().events;
    return {events.begin() + static_cast<long>(std::min(from, events.size())), events.end()};
  }

  void setBody(std::map<std::u16string, std::u16string> attributes) {
    fakePage().elements[0].attributes = std::move(attributes);
  }

  // Pages that are rejected never reach the list fetch. Their tests end the
  // process, and where the platform runs such a test in a new process the
  // parent's server would still hold the port.
  virtual bool servesUpdates() const { return true; }

  std::unique_ptr<testsupport::TestHttpServer> server_;
  Updater updater;
};

class RejectedPageTest : public PageTest {
 protected:
  bool servesUpdates() const override { return false; }
};

TEST_F(PageTest, InitialisationNavigatesToTheLanguagesPageAndStartsTheTimer) {
  updater.doModal(nullptr, 0);  // InitDialog, then the window system closes it
  EXPECT_EQ(activeUpdater, &updater);
  ASSERT_EQ(fakePage().navigations.size(), 1u);
  EXPECT_EQ(fakePage().navigations[0], u"http://127.0.0.1/instalador.php?lang=es");
  ASSERT_TRUE(fakePage().navigationFilter) << "the view is held to the page's host";
  EXPECT_TRUE(fakePage().navigationFilter(Before, u"http://127.0.0.1/other", true));
  EXPECT_FALSE(fakePage().navigationFilter(Before, u"http://example.com/", true));
  auto& events = fakeWindow().events;
  std::vector<std::string> expected = {"center:dialog", "show:dialog:Minimized", "host:0,0,755,681", "timer:100:250",
                                       "end:2",         "killtimer:100",         "destroyed"};
  EXPECT_EQ(events, expected);
  EXPECT_EQ(std::filesystem::current_path(), std::filesystem::canonical(install()))
      << "the installation folder becomes the current folder";
}

TEST_F(PageTest, WaitsForTheDocumentThenForAnExactlyCompletePage) {
  fakePage().documentFailures = 2;
  updater.onInitDialog();
  std::size_t mark = fakeWindow().events.size();

  updater.onTimer();
  updater.onTimer();
  EXPECT_FALSE(updater.document);
  updater.onTimer();  // the document arrives; the run is not ticked yet
  EXPECT_TRUE(updater.document);
  EXPECT_EQ(fakePage().readyStateReads, 0u);
  EXPECT_EQ(eventsAfter(mark), (std::vector<std::string>{"show:dialog:Hide", "show:dialog:Hide", "show:dialog:Hide"}));

  updater.onTimer();  // loading
  updater.onTimer();  // interactive
  updater.onTimer();  // "Complete" is not "complete"
  EXPECT_TRUE(updater.pageLoading);
  EXPECT_TRUE(fakePage().calls.empty()) << "no page function is called before the page is accepted";
  EXPECT_EQ(updater.updateRun.job, nullptr);

  updater.onTimer();
  EXPECT_FALSE(updater.pageLoading);
  EXPECT_NE(updater.updateRun.job, nullptr) << "the list fetch starts at acceptance";
}

TEST_F(PageTest, AcceptancePushesThePagesOwnTextsSizesAndShowsTheWindow) {
  fakePage().readyStates = {u"complete"};
  setBody({{u"xwidth", u"800"}, {u"xheight", u"600"}});
  updater.onInitDialog();
  updater.onTimer();
  std::size_t mark = fakeWindow().events.size();
  updater.onTimer();

  std::vector<std::u16string> order;
  for (const auto& call : fakePage().calls) order.push_back(call.function);
  // localization answers the update base (0) first, then the texts.
  std::vector<std::u16string> expected = {u"localization", u"setProgressBar", u"localization",     u"setVariableText",
                                          u"localization", u"setButtonText",  u"disablePlayButton"};
  EXPECT_EQ(order, expected);
  EXPECT_EQ(fakePage().argumentsOf(u"setVariableText"), (std::vector<PageValue>{std::u16string(u"Empezando...")}));
  EXPECT_EQ(fakePage().argumentsOf(u"setButtonText"), (std::vector<PageValue>{std::u16string(u"Jugar")}));
  EXPECT_EQ(fakePage().argumentsOf(u"setProgressBar"), (std::vector<PageValue>{std::int32_t{0}}));
  EXPECT_EQ(fakePage().argumentsOf(u"disablePlayButton"), (std::vector<PageValue>{true}));
  EXPECT_EQ(eventsAfter(mark),
            (std::vector<std::string>{"resize:dialog:800x600", "resize:host:1600x1200", "show:dialog:Normal"}));
  EXPECT_EQ(fakePage().element(u"boton-jugar")->handlersSet, 1);
  EXPECT_EQ(fakePage().element(u"boton-cerrar")->handlersSet, 1);

  // The handshake runs once, even if the page reports loading again.
  dropListJob();
  fakePage().readyStates = {u"loading", u"complete"};
  fakePage().readyStateReads = 0;
  std::size_t calls = fakePage().calls.size();
  updater.onTimer();
  updater.onTimer();
  EXPECT_EQ(fakePage().element(u"boton-jugar")->handlersSet, 1);
  EXPECT_EQ(std::count_if(fakePage().calls.begin() + static_cast<long>(calls), fakePage().calls.end(),
                          [](const auto& call) { return call.function == u"setButtonText"; }),
            0);
}

TEST_F(PageTest, APageWithoutABodyGetsTheTemplateSize) {
  fakePage().readyStates = {u"complete"};
  fakePage().hasBody = false;
  updater.onInitDialog();
  updater.onTimer();
  updater.onTimer();
  const auto& events = fakeWindow().events;
  EXPECT_NE(std::find(events.begin(), events.end(), "resize:dialog:755x681"), events.end());
  EXPECT_NE(std::find(events.begin(), events.end(), "resize:host:1510x1362"), events.end());
}

TEST_F(PageTest, AbsurdSizesAreHeldToAScreen) {
  fakePage().readyStates = {u"complete"};
  setBody({{u"xwidth", u"4294967296000"}, {u"xheight", u"-5"}});
  updater.onInitDialog();
  updater.onTimer();
  updater.onTimer();
  const auto& events = fakeWindow().events;
  EXPECT_NE(std::find(events.begin(), events.end(), "resize:dialog:8192x0"), events.end());
  EXPECT_NE(std::find(events.begin(), events.end(), "resize:host:16384x0"), events.end());
}

TEST_F(PageTest, GuardedCallsWaitForThePageAndTextsComeFromItOnceReady) {
  fakePage().readyStates = {u"complete"};
  updater.onInitDialog();
  showStatusText(u"too early");
  showProgress(5);
  showPlayButtonText(u"too early");
  EXPECT_TRUE(fakePage().calls.empty());
  EXPECT_EQ(messageText(22), u"Starting...");

  updater.onTimer();
  updater.onTimer();
  fakePage().calls.clear();
  showProgress(65535);
  updater.setProgressBar(70000);
  showPlayButtonText(std::nullopt);
  EXPECT_EQ(fakePage().argumentsOf(u"setProgressBar"),
            (std::vector<PageValue>{std::int32_t{65535}, std::int32_t{70000}}));
  EXPECT_EQ(fakePage().argumentsOf(u"setButtonText"), (std::vector<PageValue>{std::u16string()}));
  EXPECT_EQ(messageText(22), u"Empezando...");
  EXPECT_EQ(messageText(77), u"?77");

  // A page may answer a text with the empty text: it stands.
  fakePage().defineLauncherFunctions({{22, u""}});
  EXPECT_EQ(messageText(22), u"");

  // A page that answers with something other than a text, or has no
  // localization at all, or no script object, has not answered.
  fakePage().functions[u"localization"] = [](const PageValue&) { return PageValue{std::int32_t{42}}; };
  EXPECT_EQ(messageText(22), u"<unknow>");
  fakePage().functions[u"localization"] = [](const PageValue&) { return PageValue{}; };
  EXPECT_EQ(messageText(22), u"<unknow>");
  fakePage().functions.erase(u"localization");
  EXPECT_EQ(messageText(22), u"<unknow>");
  fakePage().scriptAvailable = false;
  EXPECT_EQ(messageText(10), u"<unknow>");
  showStatusText(u"nowhere to go");
  EXPECT_TRUE(fakePage().argumentsOf(u"setVariableText").empty() ||
              fakePage().argumentsOf(u"setVariableText").back() != PageValue{std::u16string(u"nowhere to go")});
}

// A page function that runs a nested message loop (an alert, the engine's
// slow-script prompt) lets the loop deliver the dialog's tick inside the
// call: during the handshake and during a call made outside any tick alike,
// that tick must do nothing, and later ticks run as before.
TEST_F(PageTest, ATickDeliveredInsideAPageCallIsDropped) {
  fakePage().readyStates = {u"complete"};
  std::size_t nestedReads = 0;
  std::size_t nestedCalls = 0;
  int nestedTicks = 0;
  fakePage().functions[u"setVariableText"] = [&](const PageValue&) {
    const std::size_t reads = fakePage().readyStateReads;
    const std::size_t calls = fakePage().calls.size();
    updater.processMessage(platform::DialogMessage::Timer, PageTimer);
    ++nestedTicks;
    nestedReads += fakePage().readyStateReads - reads;
    nestedCalls += fakePage().calls.size() - calls;
    return PageValue{};
  };
  updater.onInitDialog();
  updater.onTimer();
  updater.onTimer();  // the handshake shows "Starting..."
  ASSERT_FALSE(updater.pageLoading);
  showStatusText(u"outside a tick");
  EXPECT_EQ(nestedTicks, 2);
  EXPECT_EQ(nestedReads, 0u);
  EXPECT_EQ(nestedCalls, 0u);

  const std::size_t reads = fakePage().readyStateReads;
  updater.onTimer();
  EXPECT_EQ(fakePage().readyStateReads, reads + 1) << "the guard is lifted after the call";
}

// A page that never becomes ready (offline, the page host down, a part of
// the page that hangs) must not leave a hidden launcher holding the
// installation: after the limit the player gets the English "server not
// available" box and the dialog ends. Once a page is shown there is no limit.
TEST_F(PageTest, APageNotReadyWithinTheLimitGivesTheServerBoxAndEndsTheDialog) {
  fakePage().readyStates = {u"loading"};
  shell::pageReadyLimit = std::chrono::hours(1);
  updater.onInitDialog();
  for (int i = 0; i < 20; ++i) updater.onTimer();
  EXPECT_TRUE(testsupport::shownBoxes().empty());
  EXPECT_FALSE(updater.halted);

  shell::pageReadyLimit = std::chrono::milliseconds(0);
  const std::size_t mark = fakeWindow().events.size();
  updater.onTimer();
  const auto& boxes = testsupport::shownBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, u"The update server is not available. Please try again later.");
  EXPECT_EQ(boxes[0].caption, u"Glimmerhold Updater");
  EXPECT_EQ(eventsAfter(mark), (std::vector<std::string>{"killtimer:100", "end:2"}));
  EXPECT_TRUE(fakePage().calls.empty());
  EXPECT_EQ(updater.updateRun.job, nullptr) << "nothing is fetched";

  // A late page is not taken up.
  const std::size_t reads = fakePage().readyStateReads;
  fakePage().readyStates = {u"complete"};
  updater.onTimer();
  EXPECT_EQ(fakePage().readyStateReads, reads);
  EXPECT_EQ(testsupport::shownBoxes().size(), 1u);
}

TEST_F(PageTest, AShownPageHasNoLimitAndOnlyTheFailedPageLetsTheErrorPageThrough) {
  fakePage().readyStates = {u"complete"};
  updater.onInitDialog();
  auto& filter = fakePage().navigationFilter;
  ASSERT_TRUE(filter);
  EXPECT_FALSE(filter(Before, u"res://ieframe.dll/navcancl.htm", true)) << "no failure yet";
  EXPECT_FALSE(filter(Failed, u"http://example.com/", true)) << "not the page's own navigation";
  EXPECT_TRUE(filter(Failed, u"http://example.com/ad", false)) << "a frame's own error page";
  EXPECT_TRUE(filter(Failed, u"http://127.0.0.1/instalador.php?lang=es", true));
  EXPECT_TRUE(filter(Before, u"res://ieframe.dll/dnserrordiagoff.htm", true));
  EXPECT_FALSE(filter(Before, u"http://example.com/", true));

  updater.onTimer();
  updater.onTimer();
  ASSERT_FALSE(updater.pageLoading);
  // Accepted: links stay on the page's host, errors do not replace it.
  EXPECT_FALSE(filter(Failed, u"http://127.0.0.1/other", true));
  EXPECT_FALSE(filter(Before, u"res://ieframe.dll/dnserrordiagoff.htm", true));
  shell::pageReadyLimit = std::chrono::milliseconds(0);
  updater.onTimer();
  EXPECT_TRUE(testsupport::shownBoxes().empty());
  EXPECT_FALSE(updater.halted);
}

TEST_F(RejectedPageTest, PagesWithoutSetVariableTextOrAScriptObjectEndTheProcessWithZero) {
  fakePage().readyStates = {u"complete"};
  // Loads the page, which the handshake must reject by ending the process.
  auto loadPage = [this] {
    updater.onInitDialog();
    updater.onTimer();
    updater.onTimer();
    // Only reached if the process did not end.
    std::abort();
  };
  fakePage().functions.erase(u"setVariableText");
  EXPECT_EXIT(loadPage(), ::testing::ExitedWithCode(0), "");
  fakePage().defineLauncherFunctions();
  fakePage().scriptAvailable = false;
  EXPECT_EXIT(loadPage(), ::testing::ExitedWithCode(0), "");
}

TEST_F(RejectedPageTest, TheRejectionBoxIsEnglishOwnedByTheDialogAndHaltsTheTicks) {
  fakePage().readyStates = {u"complete"};
  fakePage().functions.erase(u"setVariableText");
  // Observe the box from inside the child before it exits.
  EXPECT_EXIT(
      {
        std::atexit([] {
          const auto& boxes = testsupport::shownBoxes();
          bool ok = boxes.size() == 1 && boxes[0].text == u"Invalid response from the server." &&
                    boxes[0].caption == u"Glimmerhold Updater" && boxes[0].type == 0 &&
                    boxes[0].owner == fakeWindow().dialog && activeUpdater != nullptr && activeUpdater->halted;
          std::fputs(ok ? "box as expected\n" : "unexpected box\n", stderr);
        });
        updater.onInitDialog();
        updater.onTimer();
        updater.onTimer();
        std::abort();
      },
      ::testing::ExitedWithCode(0), "box as expected");
}

}  // namespace
