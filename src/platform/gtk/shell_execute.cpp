// Opening documents and addresses with the desktop's opener.
#include "platform/shell_execute.h"

#include <glib.h>

#include <string>

#include "text/encoding.h"

namespace platform {

void shellOpen(std::u16string_view target) {
  std::string text = text::utf8FromUtf16(target);
  char opener[] = "xdg-open";
  char* argv[] = {opener, text.data(), nullptr};
  // Without G_SPAWN_DO_NOT_REAP_CHILD GLib starts the opener through an
  // intermediate child that it reaps at once, so the opener runs detached
  // and leaves no zombie behind. Its outcome is not wanted.
  const auto flags = static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDIN_FROM_DEV_NULL |
                                              G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL);
  GError* error = nullptr;
  if (!g_spawn_async(nullptr, argv, nullptr, flags, nullptr, nullptr, nullptr, &error)) {
    g_clear_error(&error);
  }
}

}  // namespace platform
