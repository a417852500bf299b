// The real dialog of template 103, run modally from the linked resources.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/ui/placement.h"
#include "platform/window.h"

namespace {

HWND hwndOf(platform::WindowHandle handle) { return reinterpret_cast<HWND>(handle); }
platform::WindowHandle handleOf(HWND window) { return reinterpret_cast<platform::WindowHandle>(window); }

// Ends any dialog that the test failed to end, so a broken routing fails the
// test instead of hanging it.
constexpr std::uintptr_t kWatchdogTimer = 999;
constexpr unsigned kWatchdogMs = 10000;
constexpr std::intptr_t kWatchdogResult = -77;

// Records the messages that reach the message map and runs a test's steps
// at InitDialog and on each tick of timer 100.
class ScriptedDialog : public platform::DialogImpl {
 public:
  std::vector<std::string> log;
  std::function<void(ScriptedDialog&)> onInit;
  std::function<void(ScriptedDialog&, int tick)> onTick;
  std::function<void(ScriptedDialog&)> onWake;
  int ticks = 0;
  bool windowAtDestroy = false;

  std::intptr_t processMessage(platform::DialogMessage message, std::uintptr_t argument) override {
    switch (message) {
      case platform::DialogMessage::InitDialog:
        log.push_back("init " + std::to_string(argument));
        platform::setTimer(window(), kWatchdogTimer, kWatchdogMs);
        if (onInit) onInit(*this);
        return 1;
      case platform::DialogMessage::Close:
        log.push_back("close");
        endDialog(2);
        return 0;
      case platform::DialogMessage::Destroy:
        log.push_back("destroy");
        windowAtDestroy = IsWindow(hwndOf(window())) != FALSE;
        platform::killTimer(window(), 100);
        return 0;
      case platform::DialogMessage::Timer:
        if (argument == kWatchdogTimer) {
          log.push_back("watchdog");
          endDialog(kWatchdogResult);
          return 0;
        }
        log.push_back("timer " + std::to_string(argument));
        if (onTick) onTick(*this, ++ticks);
        return 0;
      case platform::DialogMessage::Wake:
        log.push_back("wake " + std::to_string(argument));
        if (onWake) onWake(*this);
        return 0;
    }
    return 0;
  }
};

TEST(Dialog, RunsModallyFromInitThroughTimerTicksToCloseAndDestroy) {
  ScriptedDialog dialog;
  HWND during = nullptr;
  dialog.onInit = [&](ScriptedDialog& self) {
    during = hwndOf(self.window());
    EXPECT_TRUE(platform::setTimer(self.window(), 100, 10));
  };
  dialog.onTick = [](ScriptedDialog& self, int tick) {
    // The window system's close request, as from the taskbar.
    if (tick == 3) PostMessageW(hwndOf(self.window()), WM_CLOSE, 0, 0);
  };

  EXPECT_EQ(dialog.doModal(nullptr, 42), 2);

  const std::vector<std::string> expected{"init 42", "timer 100", "timer 100", "timer 100", "close", "destroy"};
  EXPECT_EQ(dialog.log, expected);
  EXPECT_TRUE(dialog.windowAtDestroy);
  EXPECT_EQ(dialog.window(), nullptr);
  EXPECT_FALSE(IsWindow(during));
  // Not running any more: nothing to end.
  EXPECT_FALSE(dialog.endDialog(5));
}

// A download worker's wake: posted from another thread, handled on the
// dialog's own thread, and lost with the dialog -- a wake posted as it ends
// is never handled, and a destroyed window takes none.
TEST(Dialog, WakesFromOtherThreadsAreMessagesThatEndWithTheDialog) {
  ScriptedDialog dialog;
  platform::WindowHandle during = nullptr;
  DWORD wokenOn = 0;
  dialog.onInit = [&](ScriptedDialog& self) {
    during = self.window();
    std::thread worker([&] { EXPECT_TRUE(platform::postWake(during, 7)); });
    worker.join();
  };
  dialog.onWake = [&](ScriptedDialog& self) {
    wokenOn = GetCurrentThreadId();
    std::thread late([&] { EXPECT_TRUE(platform::postWake(during, 8)); });
    late.join();
    self.endDialog(4);
  };
  EXPECT_EQ(dialog.doModal(nullptr, 0), 4);
  EXPECT_EQ(wokenOn, GetCurrentThreadId());
  EXPECT_EQ(dialog.log, (std::vector<std::string>{"init 0", "wake 7", "destroy"}));
  EXPECT_FALSE(platform::postWake(during, 9)) << "the window is gone";
  EXPECT_FALSE(platform::postWake(nullptr, 9));
}

// A timer of another id goes through the same map entry, with its id; the
// dialog can end from inside a tick with any value.
class EndsOnTimerSeven : public ScriptedDialog {
 public:
  std::intptr_t processMessage(platform::DialogMessage message, std::uintptr_t argument) override {
    if (message == platform::DialogMessage::Timer && argument == 7) {
      platform::killTimer(window(), 7);
      log.push_back("timer 7");
      endDialog(31);
      return 0;
    }
    return ScriptedDialog::processMessage(message, argument);
  }
};

TEST(Dialog, EveryTimerIdReachesTheMessageMapWithItsId) {
  EndsOnTimerSeven dialog;
  dialog.onInit = [](ScriptedDialog& self) { platform::setTimer(self.window(), 7, 10); };
  EXPECT_EQ(dialog.doModal(nullptr, 0), 31);
  const std::vector<std::string> expected{"init 0", "timer 7", "destroy"};
  EXPECT_EQ(dialog.log, expected);
}

// What a step throws stops at the dialog procedure, above user32's frames,
// which the 32-bit unwinder cannot pass: the launcher ends as every fatal
// condition ends it, with exit code 0, not in terminate (exit code 3).
TEST(DialogDeathTest, WhatATickThrowsEndsTheProcessAtTheDialogProcedure) {
  EXPECT_EXIT(
      {
        ScriptedDialog dialog;
        dialog.onInit = [](ScriptedDialog& self) { platform::setTimer(self.window(), 100, 10); };
        dialog.onTick = [](ScriptedDialog&, int) { throw std::bad_alloc(); };
        dialog.doModal(nullptr, 0);
        std::fputs("the dialog returned\n", stderr);
        std::exit(7);
      },
      testing::ExitedWithCode(0), "");
}

TEST(Dialog, TheTemplateIsABorderlessHiddenPopupOfTheExpectedSize) {
  ScriptedDialog dialog;
  LONG_PTR style = 0;
  LONG_PTR exStyle = 0;
  RECT client{};
  RECT expected{0, 0, 503, 419};
  wchar_t title[8] = L"x";
  dialog.onInit = [&](ScriptedDialog& self) {
    HWND window = hwndOf(self.window());
    style = GetWindowLongPtrW(window, GWL_STYLE);
    exStyle = GetWindowLongPtrW(window, GWL_EXSTYLE);
    GetClientRect(window, &client);
    MapDialogRect(window, &expected);
    GetWindowTextW(window, title, 8);
    self.endDialog(2);
  };
  EXPECT_EQ(dialog.doModal(nullptr, 0), 2);

  EXPECT_NE(style & WS_POPUP, 0);
  EXPECT_EQ(style & (WS_CAPTION | WS_BORDER | WS_SYSMENU | WS_THICKFRAME), 0);
  EXPECT_EQ(style & WS_VISIBLE, 0) << "visible before the launcher shows it";
  EXPECT_NE(exStyle & WS_EX_TRANSPARENT, 0);
  EXPECT_EQ(std::wstring(title), L"");
  // No frame: the client area is the whole template.
  EXPECT_EQ(client.right - client.left, expected.right - expected.left);
  EXPECT_EQ(client.bottom - client.top, expected.bottom - expected.top);
  // Dialog units became pixels. How many depends on the shell dialog font's
  // metrics: 755 x 681 on Windows at 96 dots per inch, 755 x 629 with the
  // font Wine substitutes; so only the conversion itself is checked here.
  EXPECT_GT(client.right, 503);
  EXPECT_GT(client.bottom, 419);
}

TEST(Dialog, WindowCallsMeasureResizeAndShowTheDialog) {
  ScriptedDialog dialog;
  dialog.onInit = [](ScriptedDialog& self) {
    platform::WindowHandle window = self.window();
    HWND hwnd = hwndOf(window);

    platform::Rect rect;
    ASSERT_TRUE(platform::windowRect(window, &rect));
    platform::Point topLeft{rect.left, rect.top};
    platform::Point bottomRight{rect.right, rect.bottom};
    ASSERT_TRUE(platform::screenToClient(window, &topLeft));
    ASSERT_TRUE(platform::screenToClient(window, &bottomRight));
    EXPECT_EQ(topLeft.x, 0);
    EXPECT_EQ(topLeft.y, 0);
    RECT client{};
    GetClientRect(hwnd, &client);
    EXPECT_EQ(bottomRight.x, client.right);
    EXPECT_EQ(bottomRight.y, client.bottom);

    ASSERT_TRUE(platform::resizeClient(window, 800, 600));
    GetClientRect(hwnd, &client);
    EXPECT_EQ(client.right, 800);
    EXPECT_EQ(client.bottom, 600);
    platform::Rect moved;
    platform::windowRect(window, &moved);
    EXPECT_EQ(moved.left, rect.left) << "resizing keeps the position";
    EXPECT_EQ(moved.top, rect.top);

    EXPECT_TRUE(platform::showWindow(window, platform::ShowCommand::Minimized));
    EXPECT_TRUE(IsIconic(hwnd));
    EXPECT_TRUE(platform::showWindow(window, platform::ShowCommand::Normal));
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_FALSE(IsIconic(hwnd));
    EXPECT_TRUE(platform::showWindow(window, platform::ShowCommand::Hide));
    EXPECT_FALSE(IsWindowVisible(hwnd));
    self.endDialog(2);
  };
  EXPECT_EQ(dialog.doModal(nullptr, 0), 2);
  EXPECT_EQ(dialog.log.back(), "destroy");
  EXPECT_FALSE(platform::showWindow(nullptr, platform::ShowCommand::Normal));
  EXPECT_FALSE(platform::resizeClient(nullptr, 10, 10));
}

// A window with a caption and a sizing frame: the client size asked for is
// the one it gets, whatever the frame takes.
TEST(Window, ResizeClientAllowsForTheFrame) {
  HWND window = CreateWindowExW(WS_EX_CLIENTEDGE, L"STATIC", L"framed", WS_OVERLAPPEDWINDOW, 10, 10, 100, 100, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(platform::resizeClient(handleOf(window), 321, 123));
  RECT client{};
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, 321);
  EXPECT_EQ(client.bottom, 123);
  RECT outer{};
  GetWindowRect(window, &outer);
  EXPECT_GT(outer.right - outer.left, 321);
  EXPECT_EQ(outer.left, 10);
  DestroyWindow(window);
}

TEST(Window, CentringPlacesWithinTheWorkAreaWithLeftAndTopWinning) {
  using platform::win32::centeredOrigin;
  const platform::Rect area{0, 0, 1000, 800};
  platform::Point origin = centeredOrigin(200, 100, area, area);
  EXPECT_EQ(origin.x, 400);
  EXPECT_EQ(origin.y, 350);
  // Over an owner near the right and bottom edges: pushed back inside.
  origin = centeredOrigin(200, 100, platform::Rect{900, 750, 1000, 800}, area);
  EXPECT_EQ(origin.x, 800);
  EXPECT_EQ(origin.y, 700);
  // Over an owner off the left and top: pushed right and down.
  origin = centeredOrigin(200, 100, platform::Rect{-300, -300, -100, -200}, area);
  EXPECT_EQ(origin.x, 0);
  EXPECT_EQ(origin.y, 0);
  // Larger than the area: the left and top edges stay visible.
  origin = centeredOrigin(1500, 900, area, platform::Rect{100, 50, 1100, 850});
  EXPECT_EQ(origin.x, 100);
  EXPECT_EQ(origin.y, 50);
}

HWND makePopup(HWND owner, int x, int y, int width, int height, bool visible) {
  return CreateWindowExW(0, L"STATIC", L"", WS_POPUP | (visible ? WS_VISIBLE : 0), x, y, width, height, owner, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

RECT workAreaOf(HWND window) {
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
  return monitor.rcWork;
}

TEST(Window, CentresOverAVisibleOwnerOtherwiseOverTheWorkArea) {
  HWND owner = makePopup(nullptr, 100, 100, 300, 200, true);
  ASSERT_NE(owner, nullptr);
  HWND window = makePopup(owner, 0, 0, 100, 50, false);
  ASSERT_NE(window, nullptr);

  ASSERT_TRUE(platform::centerWindow(handleOf(window)));
  RECT placed{};
  GetWindowRect(window, &placed);
  EXPECT_EQ(placed.left, 200);
  EXPECT_EQ(placed.top, 175);
  EXPECT_EQ(placed.right - placed.left, 100) << "centring keeps the size";

  // A hidden owner does not count: the work area's centre.
  ShowWindow(owner, SW_HIDE);
  ASSERT_TRUE(platform::centerWindow(handleOf(window)));
  GetWindowRect(window, &placed);
  const RECT area = workAreaOf(window);
  EXPECT_EQ(placed.left, (area.left + area.right) / 2 - 50);
  EXPECT_EQ(placed.top, (area.top + area.bottom) / 2 - 25);

  DestroyWindow(window);
  DestroyWindow(owner);
  EXPECT_FALSE(platform::centerWindow(handleOf(window)));
}

}  // namespace
