// The dialog and window calls, recorded instead of shown.
#include "platform/window.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

#include "support/fake_ui.h"

namespace {

platform::WindowHandle handleOf(std::uintptr_t n) { return reinterpret_cast<platform::WindowHandle>(n); }

std::string nameOf(platform::WindowHandle window) {
  auto& log = testsupport::fakeWindow();
  if (window == log.dialog) return "dialog";
  if (window == log.host) return "host";
  return "other";
}

void record(std::string event) { testsupport::fakeWindow().events.push_back(std::move(event)); }

// Reached from download workers, so apart from the recording log and
// locked; never destroyed, as a worker the driver left may post during exit.
struct Wakes {
  std::mutex lock;
  std::condition_variable posted;
  platform::WindowHandle target = nullptr;
  std::deque<std::uintptr_t> queued;
};

Wakes& wakes() {
  static auto* instance = new Wakes;
  return *instance;
}

}  // namespace

namespace testsupport {

std::intptr_t runDialogTicks(platform::DialogImpl& dialog, int maxTicks) { return dialog.doModal(nullptr, maxTicks); }

void setWakeTarget(platform::WindowHandle window) {
  const std::lock_guard<std::mutex> hold(wakes().lock);
  wakes().target = window;
  wakes().queued.clear();
}

std::optional<std::uintptr_t> takeWake(std::chrono::steady_clock::time_point until) {
  std::unique_lock<std::mutex> hold(wakes().lock);
  if (!wakes().posted.wait_until(hold, until, [] { return !wakes().queued.empty(); })) return std::nullopt;
  const std::uintptr_t id = wakes().queued.front();
  wakes().queued.pop_front();
  return id;
}

}  // namespace testsupport

namespace platform {

std::intptr_t DialogImpl::doModal(WindowHandle, std::intptr_t initParam) {
  auto& log = testsupport::fakeWindow();
  window_ = handleOf(0x1000);
  log.dialog = window_;
  log.endValue.reset();
  processMessage(DialogMessage::InitDialog, 0);
  // initParam, in the fake, is the number of ticks before the window system
  // asks the dialog to close.
  for (std::intptr_t tick = 0; !log.endValue && tick < initParam; ++tick) {
    if (!log.timers.empty()) processMessage(DialogMessage::Timer, log.timers.front());
  }
  if (!log.endValue) processMessage(DialogMessage::Close, 0);
  processMessage(DialogMessage::Destroy, 0);
  record("destroyed");
  window_ = nullptr;
  return log.endValue.value_or(-1);
}

bool DialogImpl::endDialog(std::intptr_t result) {
  testsupport::fakeWindow().endValue = result;
  record("end:" + std::to_string(result));
  return true;
}

WindowHandle activeWindow() { return nullptr; }

bool windowRect(WindowHandle, Rect* rect) {
  *rect = {100, 50, 100 + kTemplateWidth, 50 + kTemplateHeight};
  return true;
}

bool screenToClient(WindowHandle, Point* point) {
  point->x -= 100;
  point->y -= 50;
  return true;
}

bool centerWindow(WindowHandle window) {
  record("center:" + nameOf(window));
  return true;
}

bool showWindow(WindowHandle window, ShowCommand command) {
  const char* name = command == ShowCommand::Hide ? "Hide" : command == ShowCommand::Normal ? "Normal" : "Minimized";
  record("show:" + nameOf(window) + ":" + name);
  return true;
}

bool resizeClient(WindowHandle window, int width, int height) {
  record("resize:" + nameOf(window) + ":" + std::to_string(width) + "x" + std::to_string(height));
  return true;
}

bool setTimer(WindowHandle, std::uintptr_t id, unsigned milliseconds) {
  testsupport::fakeWindow().timers.push_back(id);
  record("timer:" + std::to_string(id) + ":" + std::to_string(milliseconds));
  return true;
}

bool postWake(WindowHandle window, std::uintptr_t id) {
  {
    const std::lock_guard<std::mutex> hold(wakes().lock);
    if (window == nullptr || window != wakes().target) return false;
    wakes().queued.push_back(id);
  }
  wakes().posted.notify_one();
  return true;
}

bool killTimer(WindowHandle, std::uintptr_t id) {
  auto& timers = testsupport::fakeWindow().timers;
  timers.erase(std::remove(timers.begin(), timers.end(), id), timers.end());
  record("killtimer:" + std::to_string(id));
  return true;
}

}  // namespace platform
