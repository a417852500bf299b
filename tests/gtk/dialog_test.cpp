#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "gtk/gui_support.h"

namespace guitest {
namespace {

using platform::DialogMessage;

GtkWidget* widgetOf(platform::WindowHandle handle) { return reinterpret_cast<GtkWidget*>(handle); }

long count(const std::vector<DialogMessage>& messages, DialogMessage kind) {
  return std::count(messages.begin(), messages.end(), kind);
}

TEST(Dialog, CloseRequestsAreMessagesAndEndingDestroysOnce) {
  TestDialog dialog;
  GtkWidget* window = nullptr;
  int ticks = 0;
  int closes = 0;
  dialog.onInit = [&] {
    window = widgetOf(dialog.window());
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(gtk_widget_get_visible(window)) << "not visible at creation";
    EXPECT_FALSE(gtk_window_get_decorated(GTK_WINDOW(window)));
    platform::Rect rect;
    ASSERT_TRUE(platform::windowRect(dialog.window(), &rect));
    EXPECT_EQ(rect.right - rect.left, 755);
    EXPECT_EQ(rect.bottom - rect.top, 681);
    EXPECT_TRUE(platform::setTimer(dialog.window(), 7, 10));
    platform::showWindow(dialog.window(), platform::ShowCommand::Minimized);  // closing needs a real window
  };
  dialog.onTimer = [&](std::uintptr_t id) {
    EXPECT_EQ(id, 7u);
    // Ask the window to close as a window manager would, twice.
    if (++ticks == 2 || (closes == 1 && ticks > 2)) gtk_window_close(GTK_WINDOW(window));
  };
  dialog.onClose = [&] {
    EXPECT_TRUE(GTK_IS_WINDOW(window)) << "a close request does not destroy the window by itself";
    if (++closes == 2) dialog.endDialog(42);
  };
  ASSERT_EQ(dialog.doModal(nullptr, 0), 42);
  EXPECT_EQ(dialog.window(), nullptr);
  ASSERT_FALSE(dialog.messages.empty());
  EXPECT_EQ(dialog.messages.front(), DialogMessage::InitDialog);
  EXPECT_EQ(dialog.messages.back(), DialogMessage::Destroy);
  EXPECT_EQ(count(dialog.messages, DialogMessage::Destroy), 1);
  EXPECT_EQ(count(dialog.messages, DialogMessage::Close), 2);
  EXPECT_EQ(dialog.messages[dialog.messages.size() - 2], DialogMessage::Close)
      << "nothing is handled between endDialog and Destroy";

  // The timer was never killed by the dialog: it went with the window.
  const std::size_t handled = dialog.messages.size();
  pumpFor(100ms);
  EXPECT_EQ(dialog.messages.size(), handled);
  EXPECT_FALSE(dialog.endDialog(1)) << "no dialog runs any more";
}

TEST(Dialog, EndingDuringInitialisationSkipsTheLoop) {
  TestDialog dialog;
  EXPECT_FALSE(dialog.endDialog(3)) << "not running yet";
  dialog.onInit = [&] {
    EXPECT_TRUE(dialog.endDialog(5));
    EXPECT_TRUE(platform::setTimer(dialog.window(), 100, 10));
  };
  EXPECT_EQ(dialog.doModal(nullptr, 0), 5);
  EXPECT_EQ(dialog.messages, (std::vector<DialogMessage>{DialogMessage::InitDialog, DialogMessage::Destroy}));
}

// A download worker's wake: posted from another thread, it reaches the very
// dialog run it was posted for on the main thread, and nothing else -- not
// a run that has ended meanwhile, not once the window is gone.
TEST(Dialog, WakesFromOtherThreadsReachOnlyTheRunTheyWerePostedFor) {
  TestDialog first;
  platform::WindowHandle firstWindow = nullptr;
  std::thread::id wokenOn;
  first.onInit = [&] {
    firstWindow = first.window();
    std::thread worker([&] { EXPECT_TRUE(platform::postWake(firstWindow, 7)); });
    worker.join();
    EXPECT_TRUE(platform::setTimer(first.window(), 1, 10));
  };
  first.onWake = [&](std::uintptr_t) {
    wokenOn = std::this_thread::get_id();
    // Posted now, handled never: this run ends with this message.
    std::thread late([&] { EXPECT_TRUE(platform::postWake(firstWindow, 8)); });
    late.join();
    first.endDialog(1);
  };
  ASSERT_EQ(first.doModal(nullptr, 0), 1);
  EXPECT_EQ(wokenOn, std::this_thread::get_id()) << "handled on the dialog's thread";
  EXPECT_EQ(first.wakes, (std::vector<std::uintptr_t>{7}));
  EXPECT_FALSE(platform::postWake(firstWindow, 9)) << "the window is gone";
  EXPECT_FALSE(platform::postWake(nullptr, 9));

  // The late wake is still queued on the main loop: it finds its run over
  // and reaches no later dialog.
  std::vector<std::uintptr_t> second;
  runInDialog([&](TestDialog& dialog) {
    pumpFor(50ms);
    second = dialog.wakes;
  });
  EXPECT_TRUE(second.empty());
  EXPECT_EQ(first.wakes.size(), 1u);
}

TEST(Dialog, TimersCarryTheirIdsAndStopWhenKilled) {
  std::vector<std::uintptr_t> ids;
  runInDialog([&](TestDialog& dialog) {
    dialog.onTimer = [&](std::uintptr_t id) {
      ids.push_back(id);
      if (id == 2) {
        EXPECT_TRUE(platform::killTimer(dialog.window(), 2));
      }
    };
    ASSERT_TRUE(platform::setTimer(dialog.window(), 1, 1000000));
    ASSERT_TRUE(platform::setTimer(dialog.window(), 1, 10)) << "setting an id again restarts it";
    ASSERT_TRUE(platform::setTimer(dialog.window(), 2, 10));
    ASSERT_TRUE(pumpUntil([&] { return std::count(ids.begin(), ids.end(), 1u) >= 3; }));
    EXPECT_EQ(std::count(ids.begin(), ids.end(), 2u), 1) << "a timer killed in its own tick ticks no more";
    EXPECT_FALSE(platform::killTimer(dialog.window(), 2));
    EXPECT_TRUE(platform::killTimer(dialog.window(), 1));
    EXPECT_FALSE(platform::killTimer(dialog.window(), 99));
  });
}

TEST(Dialog, PlacementSizingAndVisibility) {
  runInDialog([](TestDialog& dialog) {
    platform::WindowHandle window = dialog.window();
    ASSERT_TRUE(platform::centerWindow(window));
    platform::Rect rect;
    ASSERT_TRUE(platform::windowRect(window, &rect));
    // The private X server's screen is 1280 x 1024 and has no panels.
    EXPECT_EQ(rect.left, (1280 - 755) / 2);
    EXPECT_EQ(rect.top, (1024 - 681) / 2);
    platform::Point point{rect.left + 10, rect.top + 20};
    ASSERT_TRUE(platform::screenToClient(window, &point));
    EXPECT_EQ(point.x, 10);
    EXPECT_EQ(point.y, 20);

    EXPECT_FALSE(platform::showWindow(window, platform::ShowCommand::Minimized)) << "was hidden";
    EXPECT_TRUE(gtk_widget_get_visible(widgetOf(window)));
    EXPECT_TRUE(platform::showWindow(window, platform::ShowCommand::Hide));
    EXPECT_FALSE(gtk_widget_get_visible(widgetOf(window)));
    EXPECT_FALSE(platform::showWindow(window, platform::ShowCommand::Normal));
    EXPECT_TRUE(gtk_widget_get_visible(widgetOf(window)));

    // The host child is twice the dialog's size; the dialog clips it and
    // keeps its own size.
    platform::WindowHandle host = platform::createBrowserHostWindow(window, platform::Rect{0, 0, 755, 681});
    ASSERT_NE(host, nullptr);
    ASSERT_TRUE(platform::resizeClient(window, 800, 600));
    ASSERT_TRUE(platform::resizeClient(host, 1600, 1200));
    platform::Rect hostRect;
    ASSERT_TRUE(platform::windowRect(host, &hostRect));
    EXPECT_EQ(hostRect.right - hostRect.left, 1600);
    EXPECT_EQ(hostRect.bottom - hostRect.top, 1200);
    ASSERT_TRUE(pumpUntil([&] {
      return gtk_widget_get_allocated_width(widgetOf(host)) == 1600 &&
             gtk_widget_get_allocated_width(widgetOf(window)) == 800;
    })) << "window "
        << gtk_widget_get_allocated_width(widgetOf(window)) << " host "
        << gtk_widget_get_allocated_width(widgetOf(host));
    ASSERT_TRUE(platform::windowRect(window, &rect));
    EXPECT_EQ(rect.right - rect.left, 800);
    EXPECT_EQ(rect.bottom - rect.top, 600);
    ASSERT_TRUE(platform::windowRect(host, &hostRect));
    EXPECT_EQ(hostRect.left, rect.left) << "the host sits at the client area's origin";
    EXPECT_EQ(hostRect.top, rect.top);

    // Larger than the work area: the top-left corner stays on the screen.
    ASSERT_TRUE(platform::resizeClient(window, 2000, 1500));
    ASSERT_TRUE(platform::centerWindow(window));
    ASSERT_TRUE(platform::windowRect(window, &rect));
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.top, 0);
    EXPECT_FALSE(platform::resizeClient(window, -1, 5));
  });
}

}  // namespace
}  // namespace guitest
