// The scripted fakes of the user-interface seams: a window that records what
// is done to it, a page whose script functions and elements each test
// writes, a message box answered at once, and a desktop opener that records.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/automation.h"
#include "platform/browser.h"
#include "platform/window.h"

namespace testsupport {

struct ShownBox {
  platform::WindowHandle owner;
  std::u16string text;
  std::u16string caption;
  unsigned type;
};

// What crosses into and out of a page function.
using PageValue = std::variant<std::monostate, std::int32_t, bool, std::u16string, double>;

struct PageCall {
  std::u16string function;
  PageValue argument;
};

struct FakeElement {
  std::u16string id;
  std::u16string tag;
  std::map<std::u16string, std::u16string> attributes;
  platform::ComPtr<IDispatch> onMouseDown;
  // The handler as first set, to check reference counting.
  int handlersSet = 0;
};

struct FakePage {
  // Script.
  std::map<std::u16string, std::function<PageValue(const PageValue&)>> functions;
  bool scriptAvailable = true;
  // Document.
  int documentFailures = 0;                              // document() fails this many times first
  std::vector<std::u16string> readyStates{u"complete"};  // one per read; the last repeats
  bool hasBody = true;
  bool hasLookup = true;  // IHTMLDocument3
  std::vector<FakeElement> elements;
  std::size_t readyStateReads = 0;

  // What happened.
  std::vector<std::u16string> navigations;
  platform::WebBrowser2::NavigationFilter navigationFilter;
  std::vector<PageCall> calls;

  FakeElement* element(std::u16string_view id);
  // A mouse button goes down over the element: its handler runs.
  void mouseDown(std::u16string_view id);
  // Calls of one function, in order.
  std::vector<PageValue> argumentsOf(std::u16string_view function) const;

  // A launcher page with every function, recording, and localization
  // answering from `texts` (id -> text), "?id" for others.
  void defineLauncherFunctions(std::map<std::int32_t, std::u16string> texts = {});
};

struct FakeWindowLog {
  std::vector<std::string> events;     // "show:Minimized", "resize:host:1510x1362", ...
  std::vector<std::uintptr_t> timers;  // running timers
  std::optional<std::intptr_t> endValue;
  platform::WindowHandle dialog = nullptr;
  platform::WindowHandle host = nullptr;
};

// Process-wide state of the fakes; reset() before each test.
FakePage& fakePage();
FakeWindowLog& fakeWindow();
std::vector<ShownBox>& shownBoxes();
std::vector<std::u16string>& openedLinks();
void resetFakes();

// Runs the dialog's modal loop the way the fake backend does: InitDialog,
// then Timer ticks until the dialog ends or `maxTicks` have passed (then a
// Close). Returns the end value.
std::intptr_t runDialogTicks(platform::DialogImpl& dialog, int maxTicks);

// The fake window's wakes. postWake, from any thread, queues a wake for the
// one window set here (none: nothing is posted, as for a destroyed window);
// whatever drives the dialog takes them. The fake modal loop above does not:
// its ticks alone drive the dialog.
void setWakeTarget(platform::WindowHandle window);
// Waits until a wake is queued or `until` has come; the wake's id, if one
// was queued.
std::optional<std::uintptr_t> takeWake(std::chrono::steady_clock::time_point until);

std::string narrow(const std::u16string& text);

}  // namespace testsupport
