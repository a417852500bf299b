#include <gtest/gtest.h>

#include <chrono>

#include "gtk/gui_support.h"
#include "platform/gtk/page_call.h"

namespace guitest {
namespace {

TEST(PageCall, NoTimerTickReachesTheDialogWhileACallWaits) {
  runInDialog([](TestDialog& dialog) {
    LoadedPage page;
    ASSERT_TRUE(loadPage(dialog, "/page.html", &page));
    bool inCall = false;
    int ticksInCall = 0;
    int ticksAfter = 0;
    dialog.onTimer = [&](std::uintptr_t) {
      if (inCall) ++ticksInCall;
      ++ticksAfter;
    };
    ASSERT_TRUE(platform::setTimer(dialog.window(), 100, 50));
    ASSERT_TRUE(pumpUntil([&] { return ticksAfter > 0; }));

    VARIANT result;
    inCall = true;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(callPage(*page.document2, u"busy", intVariant(600), &result), S_OK);
    const auto took = std::chrono::steady_clock::now() - start;
    inCall = false;
    EXPECT_EQ(platform::bstrText(result.bstrVal), u"done") << "the call waited for the page function's end";
    VariantClear(&result);
    EXPECT_GE(took, 600ms);
    EXPECT_EQ(ticksInCall, 0);

    ticksAfter = 0;
    EXPECT_TRUE(pumpUntil([&] { return ticksAfter > 0; })) << "the timer goes on after the call";
  });
}

TEST(PageCall, ACallThatGetsNoAnswerGivesUp) {
  const auto saved = platform::gtk::setPageCallTimeout(300ms);
  runInDialog([](TestDialog& dialog) {
    LoadedPage page;
    ASSERT_TRUE(loadPage(dialog, "/page.html", &page));
    VARIANT result;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(callPage(*page.document2, u"busy", intVariant(3000), &result), E_FAIL);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms);
    EXPECT_EQ(result.vt, VT_EMPTY);
    EXPECT_EQ(platform::gtk::pageCallDepth(), 0);

    // The late answer finds nobody waiting; later calls work again.
    platform::gtk::setPageCallTimeout(10s);
    std::u16string state;
    EXPECT_TRUE(pumpUntil([&] { return SUCCEEDED(page.document2->readyState(&state)); }));
    EXPECT_EQ(state, u"complete");
  });
  platform::gtk::setPageCallTimeout(saved);
}

TEST(PageCall, CallsFailOnceTheWebProcessIsGone) {
  runInDialog([](TestDialog& dialog) {
    LoadedPage page;
    ASSERT_TRUE(loadPage(dialog, "/page.html", &page));
    GtkWidget* host = reinterpret_cast<GtkWidget*>(page.host);
    GList* children = gtk_container_get_children(GTK_CONTAINER(host));
    ASSERT_NE(children, nullptr);
    WebKitWebView* view = WEBKIT_WEB_VIEW(children->data);
    g_list_free(children);
    webkit_web_view_terminate_web_process(view);
    std::u16string state;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(page.document2->readyState(&state), E_FAIL);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << "not a wait for the time-out";
  });
}

}  // namespace
}  // namespace guitest
