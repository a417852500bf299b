// The modal dialog and its timers.
#include <gtk/gtk.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "platform/gtk/page_call.h"
#include "platform/gtk/widgets.h"
#include "platform/window.h"

namespace platform {

namespace {

// One modal run of a dialog, reachable from its window while it lasts.
struct ModalRun {
  DialogImpl* dialog;
  std::uint64_t serial;
  bool ending = false;
  std::intptr_t result = 0;
};

constexpr const char* kModalRunKey = "glimmerhold-modal-run";

// Running dialogs by serial, so that work posted for a dialog can tell
// whether that very run still goes on when the work comes to run.
std::map<std::uint64_t, ModalRun*> gRunning;
std::uint64_t gNextSerial = 1;

// The running dialogs' windows and serials, for postWake, which any thread
// may call: it looks a window up here under the lock and never touches the
// window itself. Never destroyed: a download abandoned by an ending
// launcher may still post while the process runs its exit.
struct WakeTargets {
  std::mutex lock;
  std::map<WindowHandle, std::uint64_t> serials;
};

WakeTargets& wakeTargets() {
  static auto* targets = new WakeTargets;
  return *targets;
}

void setWakeTarget(WindowHandle window, std::uint64_t serial) {
  WakeTargets& targets = wakeTargets();
  const std::lock_guard<std::mutex> hold(targets.lock);
  if (serial != 0) {
    targets.serials[window] = serial;
  } else {
    targets.serials.erase(window);
  }
}

struct PostedWake {
  std::uint64_t serial;
  std::uintptr_t id;
};

// On the main loop. Delivered as a close request is, once no page call is
// waiting, and only to the very run it was posted for, if that still goes
// on and is not ending.
gboolean deliverWake(gpointer data) {
  const PostedWake wake = *static_cast<PostedWake*>(data);
  gtk::postUiWork([wake] {
    auto found = gRunning.find(wake.serial);
    if (found != gRunning.end() && !found->second->ending) {
      found->second->dialog->processMessage(DialogMessage::Wake, wake.id);
    }
  });
  return G_SOURCE_REMOVE;
}

void freeWake(gpointer data) { delete static_cast<PostedWake*>(data); }

ModalRun* runOf(GtkWidget* window) {
  return window != nullptr ? static_cast<ModalRun*>(g_object_get_data(G_OBJECT(window), kModalRunKey)) : nullptr;
}

// The window system asks to close the dialog: the dialog hears of it as a
// posted message, and decides itself whether to end.
gboolean onDeleteEvent(GtkWidget* window, GdkEvent*, gpointer) {
  if (ModalRun* run = runOf(window)) {
    const std::uint64_t serial = run->serial;
    gtk::postUiWork([serial] {
      auto found = gRunning.find(serial);
      if (found != gRunning.end() && !found->second->ending) {
        found->second->dialog->processMessage(DialogMessage::Close, 0);
      }
    });
  }
  return TRUE;  // never destroyed by the window system itself
}

// --- Timers -----------------------------------------------------------------

struct Timer {
  GtkWidget* window;
  std::uintptr_t id;
  guint source = 0;
};

using WindowTimers = std::map<std::uintptr_t, std::unique_ptr<Timer>>;
std::map<GtkWidget*, WindowTimers> gTimers;

// The shortest period a timer runs at, as with the window system's timers.
constexpr unsigned kMinimumPeriodMs = 10;

gboolean onTimerTick(gpointer data) {
  auto* timer = static_cast<Timer*>(data);
  // A tick that falls into a page call is dropped, not queued: the next one
  // follows within a period, and the dialog is never re-entered mid-call.
  if (gtk::pageCallDepth() > 0) return G_SOURCE_CONTINUE;
  if (ModalRun* run = runOf(timer->window)) {
    // The handler may kill this timer; `timer` is not touched afterwards.
    run->dialog->processMessage(DialogMessage::Timer, timer->id);
  }
  return G_SOURCE_CONTINUE;
}

void killAllTimers(GtkWidget* window) {
  auto found = gTimers.find(window);
  if (found == gTimers.end()) return;
  for (const auto& [id, timer] : found->second) g_source_remove(timer->source);
  gTimers.erase(found);
}

void onTimerWindowDestroyed(GtkWidget* window, gpointer) { killAllTimers(window); }

}  // namespace

std::intptr_t DialogImpl::doModal(WindowHandle owner, std::intptr_t initParam) {
  if (window_ != nullptr || gdk_display_get_default() == nullptr) return -1;

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  g_object_ref(window);  // ours until the run is over
  gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
  gtk_window_set_title(GTK_WINDOW(window), "");
  gtk_window_set_default_size(GTK_WINDOW(window), kTemplateWidth, kTemplateHeight);
  GtkWidget* clientArea = gtk_layout_new(nullptr, nullptr);
  gtk_container_add(GTK_CONTAINER(window), clientArea);
  gtk_widget_show(clientArea);
  if (GtkWidget* ownerWidget = gtk::widgetOf(owner); ownerWidget != nullptr && GTK_IS_WINDOW(ownerWidget)) {
    gtk_window_set_transient_for(GTK_WINDOW(window), GTK_WINDOW(ownerWidget));
    gtk_window_set_modal(GTK_WINDOW(window), TRUE);
  }

  ModalRun run{this, gNextSerial++};
  gRunning.emplace(run.serial, &run);
  g_object_set_data(G_OBJECT(window), kModalRunKey, &run);
  const gulong deleteHandler = g_signal_connect(window, "delete-event", G_CALLBACK(onDeleteEvent), nullptr);
  window_ = gtk::handleOf(window);
  setWakeTarget(window_, run.serial);

  processMessage(DialogMessage::InitDialog, static_cast<std::uintptr_t>(initParam));
  // endDialog only marks the run; the loop looks at the mark after every
  // message it has dispatched.
  while (!run.ending) g_main_context_iteration(nullptr, TRUE);

  setWakeTarget(window_, 0);
  processMessage(DialogMessage::Destroy, 0);
  killAllTimers(window);
  g_signal_handler_disconnect(window, deleteHandler);
  g_object_set_data(G_OBJECT(window), kModalRunKey, nullptr);
  gRunning.erase(run.serial);
  window_ = nullptr;
  gtk_widget_destroy(window);
  g_object_unref(window);
  return run.result;
}

bool DialogImpl::endDialog(std::intptr_t result) {
  ModalRun* run = runOf(gtk::widgetOf(window_));
  if (run == nullptr) return false;
  run->ending = true;
  run->result = result;
  g_main_context_wakeup(nullptr);
  return true;
}

bool setTimer(WindowHandle window, std::uintptr_t id, unsigned milliseconds) {
  GtkWidget* widget = gtk::widgetOf(window);
  if (widget == nullptr) return false;
  auto [entry, firstTimer] = gTimers.try_emplace(widget);
  if (firstTimer) g_signal_connect(widget, "destroy", G_CALLBACK(onTimerWindowDestroyed), nullptr);
  // Setting a timer id again restarts it with the new period.
  std::unique_ptr<Timer>& timer = entry->second[id];
  if (timer) g_source_remove(timer->source);
  timer = std::make_unique<Timer>(Timer{widget, id});
  timer->source = g_timeout_add(std::max(milliseconds, kMinimumPeriodMs), onTimerTick, timer.get());
  return true;
}

bool killTimer(WindowHandle window, std::uintptr_t id) {
  auto windowTimers = gTimers.find(gtk::widgetOf(window));
  if (windowTimers == gTimers.end()) return false;
  auto timer = windowTimers->second.find(id);
  if (timer == windowTimers->second.end()) return false;
  g_source_remove(timer->second->source);
  windowTimers->second.erase(timer);
  return true;
}

bool postWake(WindowHandle window, std::uintptr_t id) {
  std::uint64_t serial = 0;
  {
    WakeTargets& targets = wakeTargets();
    const std::lock_guard<std::mutex> hold(targets.lock);
    auto found = targets.serials.find(window);
    if (window == nullptr || found == targets.serials.end()) return false;
    serial = found->second;
  }
  // An idle source on the main context, which this wakes: deliverWake runs
  // on the thread that iterates it. (g_main_context_invoke would run it
  // right here on a worker whenever the main thread is not iterating.)
  g_idle_add_full(G_PRIORITY_DEFAULT, deliverWake, new PostedWake{serial, id}, freeWake);
  return true;
}

}  // namespace platform
