#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gtk/gui_support.h"
#include "platform/gtk/page_call.h"

namespace guitest {
namespace {

std::string narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

// Presses and releases a real mouse button at a point of the screen.
bool pressAt(long x, long y, int button) {
  const std::string xText = std::to_string(x);
  const std::string yText = std::to_string(y);
  const std::string buttonText = std::to_string(button);
  std::vector<const char*> argv = {"xdotool",   "mousemove",        "--sync",  xText.c_str(),      yText.c_str(),
                                   "mousedown", buttonText.c_str(), "mouseup", buttonText.c_str(), nullptr};
  gint status = -1;
  return g_spawn_sync(nullptr, const_cast<gchar**>(argv.data()), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr,
                      nullptr, nullptr, &status, nullptr) &&
         g_spawn_check_wait_status(status, nullptr);
}

// The screen point of a page position "x,y" given by the page's centreOf.
bool screenPointOf(platform::WindowHandle window, platform::HtmlDocument2& document, const char16_t* id, long* x,
                   long* y) {
  VARIANT result;
  if (FAILED(callPage(document, u"centreOf", textVariant(id), &result)) || result.vt != VT_BSTR) return false;
  const std::string where = narrow(platform::bstrText(result.bstrVal));
  VariantClear(&result);
  platform::Rect rect;
  if (!platform::windowRect(window, &rect)) return false;
  *x = rect.left + std::stol(where.substr(0, where.find(',')));
  *y = rect.top + std::stol(where.substr(where.find(',') + 1));
  return true;
}

std::shared_ptr<platform::HtmlElement> element(LoadedPage& page, const char16_t* id) {
  std::shared_ptr<platform::HtmlElement> found;
  page.document3->elementById(id, &found);
  return found;
}

TEST(MouseDown, RealPressesOnABoundElementAndItsChildReachTheHandler) {
  runInDialog([](TestDialog& dialog) {
    LoadedPage page;
    ASSERT_TRUE(loadPage(dialog, "/page.html", &page));
    platform::showWindow(dialog.window(), platform::ShowCommand::Normal);
    GtkWidget* host = reinterpret_cast<GtkWidget*>(page.host);
    ASSERT_TRUE(pumpUntil([&] { return gtk_widget_get_mapped(host) && gtk_widget_get_allocated_width(host) > 100; }));

    auto play = RecordingHandler::make();
    auto field = RecordingHandler::make();
    ASSERT_EQ(element(page, u"boton-jugar")->putOnMouseDown(play->asVariant()), S_OK);
    ASSERT_EQ(element(page, u"field")->putOnMouseDown(field->asVariant()), S_OK);

    platform::Rect rect;
    ASSERT_TRUE(platform::windowRect(dialog.window(), &rect));
    // The bound element itself, left button (its child sits in its middle).
    ASSERT_TRUE(pressAt(rect.left + 10, rect.top + 10, 1));
    ASSERT_TRUE(pumpUntil([&] { return play->members.size() == 1; }));
    EXPECT_EQ(play->members[0], 0) << "the default member";

    // A child of the bound element, right button: the press bubbles up.
    long x = 0;
    long y = 0;
    ASSERT_TRUE(screenPointOf(dialog.window(), *page.document2, u"inner", &x, &y));
    ASSERT_TRUE(pressAt(x, y, 3));
    ASSERT_TRUE(pumpUntil([&] { return play->members.size() == 2; }));
    EXPECT_EQ(play->members[1], 0);

    // The page's own listeners still see both presses, not cancelled.
    EXPECT_EQ(callPageText(*page.document2, u"readPresses"), u"boton-jugar/0/false,inner/2/false");

    // The default action of a press still happens: the input takes focus.
    ASSERT_TRUE(screenPointOf(dialog.window(), *page.document2, u"field", &x, &y));
    ASSERT_TRUE(pressAt(x, y, 1));
    ASSERT_TRUE(pumpUntil([&] { return field->members.size() == 1; }));
    EXPECT_TRUE(pumpUntil([&] { return callPageText(*page.document2, u"focusedId") == u"field"; }));
    EXPECT_EQ(play->members.size(), 2u) << "a press elsewhere does not reach the other handler";
  });
}

TEST(MouseDown, BindingReplacesThePagesHandlerAndRunsOutsidePageCalls) {
  auto handler = RecordingHandler::make();
  auto replaced = RecordingHandler::make();
  TestDialog dialog;
  LoadedPage page;
  int depthInHandler = -1;
  VARIANT originalRan;
  VariantInit(&originalRan);
  handler->onInvoke = [&] {
    depthInHandler = platform::gtk::pageCallDepth();
    // A handler may call into the page, then end the dialog.
    VARIANT none;
    VariantInit(&none);
    EXPECT_EQ(callPage(*page.document2, u"originalHandlerRuns", none, &originalRan), S_OK);
    dialog.endDialog(9);
  };
  dialog.onInit = [&] {
    ASSERT_TRUE(loadPage(dialog, "/page.html", &page));
    auto unbound = element(page, u"unbound");
    ASSERT_NE(unbound, nullptr);
    ASSERT_EQ(unbound->putOnMouseDown(replaced->asVariant()), S_OK);
    ASSERT_EQ(unbound->putOnMouseDown(handler->asVariant()), S_OK);
    EXPECT_EQ(replaced->references(), 1u) << "the replaced handler was released";
    VARIANT result;
    EXPECT_EQ(callPage(*page.document2, u"pressByScript", textVariant(u"unbound"), &result), S_OK);
    EXPECT_TRUE(handler->members.empty()) << "the handler never runs inside a page call";
  };
  // The handler ends the dialog from the dialog's own loop.
  EXPECT_EQ(dialog.doModal(nullptr, 0), 9);
  EXPECT_EQ(handler->members, std::vector<DISPID>{0});
  EXPECT_EQ(depthInHandler, 0);
  EXPECT_TRUE(replaced->members.empty());
  // The page's own onmousedown did not run: ours replaced it.
  EXPECT_EQ(originalRan.vt, VT_BOOL);
  EXPECT_EQ(originalRan.boolVal, VARIANT_FALSE);
}

}  // namespace
}  // namespace guitest
