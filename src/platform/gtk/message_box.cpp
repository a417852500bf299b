// Message boxes as modal GTK dialogs.
#include "platform/message_box.h"

#include <gtk/gtk.h>

#include <string>

namespace platform {

namespace {

std::string toUtf8(std::u16string_view text) {
  glong written = 0;
  gchar* utf8 = g_utf16_to_utf8(reinterpret_cast<const gunichar2*>(text.data()),
                                static_cast<glong>(text.size()), nullptr, &written, nullptr);
  if (utf8 == nullptr) return {};
  std::string result(utf8, static_cast<std::size_t>(written));
  g_free(utf8);
  return result;
}

}  // namespace

int messageBox(WindowHandle owner, std::u16string_view text, std::u16string_view caption,
               unsigned type) {
  GtkWindow* parent = owner != nullptr ? GTK_WINDOW(reinterpret_cast<GtkWidget*>(owner)) : nullptr;
  GtkMessageType kind = (type & kMbIconInformation) != 0 ? GTK_MESSAGE_INFO : GTK_MESSAGE_OTHER;
  std::string body = toUtf8(text);
  GtkWidget* dialog = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, kind, GTK_BUTTONS_OK, "%s",
                                             body.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), toUtf8(caption).c_str());
  gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
  gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  return kIdOk;
}

}  // namespace platform
