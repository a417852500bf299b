#include "platform/gtk/page_call.h"

#include <deque>
#include <memory>
#include <utility>

namespace platform::gtk {

namespace {

std::chrono::milliseconds gTimeout{10000};
int gDepth = 0;
std::deque<std::function<void()>> gWork;
guint gFlushSource = 0;

// Shared between the waiting caller and WebKit's callback: after a time-out
// the caller has returned, but the callback still comes and must find its
// record alive.
struct PendingCall {
  bool finished = false;
  ScriptCall call;
};

struct VariantUnref {
  void operator()(GVariant* value) const { g_variant_unref(value); }
};
struct ObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};

ScriptValue valueOf(JSCValue* value) {
  ScriptValue result;
  if (jsc_value_is_undefined(value)) {
    result.kind = ScriptValue::Kind::Undefined;
  } else if (jsc_value_is_null(value)) {
    result.kind = ScriptValue::Kind::Null;
  } else if (jsc_value_is_string(value)) {
    result.kind = ScriptValue::Kind::String;
    // As bytes with their length: a page's text may hold a NUL, and a C
    // string would end there, handing on a shortened text as if it were whole.
    if (GBytes* bytes = jsc_value_to_string_as_bytes(value)) {
      gsize size = 0;
      const auto* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
      if (data != nullptr) result.text.assign(data, size);
      g_bytes_unref(bytes);
    }
  } else if (jsc_value_is_number(value)) {
    result.kind = ScriptValue::Kind::Number;
    result.number = jsc_value_to_double(value);
  } else if (jsc_value_is_boolean(value)) {
    result.kind = ScriptValue::Kind::Boolean;
    result.boolean = jsc_value_to_boolean(value) != FALSE;
  } else {
    result.kind = ScriptValue::Kind::Other;
  }
  return result;
}

void onCallFinished(GObject* source, GAsyncResult* asyncResult, gpointer data) {
  std::unique_ptr<std::shared_ptr<PendingCall>> holder(static_cast<std::shared_ptr<PendingCall>*>(data));
  PendingCall& pending = **holder;
  GError* error = nullptr;
  JSCValue* value = webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), asyncResult, &error);
  if (value != nullptr) {
    pending.call.outcome = ScriptCall::Outcome::Done;
    pending.call.value = valueOf(value);
    g_object_unref(value);
  } else {
    // Errors of the script domain come from the page (a throw, a result that
    // cannot be carried over); anything else means the call never ran.
    const bool fromScript = error != nullptr && error->domain == WEBKIT_JAVASCRIPT_ERROR;
    pending.call.outcome = fromScript ? ScriptCall::Outcome::ScriptError : ScriptCall::Outcome::Failed;
    g_clear_error(&error);
  }
  pending.finished = true;
}

gboolean onDeadline(gpointer data) {
  *static_cast<bool*>(data) = true;
  return G_SOURCE_REMOVE;
}

gboolean flushUiWork(gpointer) {
  gFlushSource = 0;
  while (gDepth == 0 && !gWork.empty()) {
    std::function<void()> work = std::move(gWork.front());
    gWork.pop_front();
    work();
  }
  return G_SOURCE_REMOVE;
}

void scheduleFlush() {
  if (gFlushSource != 0 || gDepth != 0 || gWork.empty()) return;
  gFlushSource = g_idle_add_full(G_PRIORITY_DEFAULT, flushUiWork, nullptr, nullptr);
}

}  // namespace

ScriptCall callPageScript(WebKitWebView* view, std::string_view body, GVariant* arguments) {
  std::unique_ptr<GVariant, VariantUnref> ownedArguments(arguments != nullptr ? g_variant_ref_sink(arguments)
                                                                              : nullptr);
  if (view == nullptr) return {};

  auto pending = std::make_shared<PendingCall>();
  std::unique_ptr<GCancellable, ObjectUnref> cancellable(g_cancellable_new());
  ++gDepth;
  webkit_web_view_call_async_javascript_function(
      view, body.data(), static_cast<gssize>(body.size()), ownedArguments.get(), nullptr, nullptr, cancellable.get(),
      onCallFinished, std::make_unique<std::shared_ptr<PendingCall>>(pending).release());

  bool expired = false;
  const guint deadline = g_timeout_add(static_cast<guint>(gTimeout.count()), onDeadline, &expired);
  while (!pending->finished && !expired) g_main_context_iteration(nullptr, TRUE);
  if (!expired) g_source_remove(deadline);
  if (!pending->finished) g_cancellable_cancel(cancellable.get());

  --gDepth;
  scheduleFlush();
  return pending->finished ? pending->call : ScriptCall{};
}

int pageCallDepth() { return gDepth; }

void postUiWork(std::function<void()> work) {
  gWork.push_back(std::move(work));
  scheduleFlush();
}

std::chrono::milliseconds setPageCallTimeout(std::chrono::milliseconds limit) { return std::exchange(gTimeout, limit); }

}  // namespace platform::gtk
