// Message boxes as modal GTK dialogs.
#include "platform/message_box.h"

#include <gtk/gtk.h>

#include <string>

#include "platform/gtk/widgets.h"
#include "text/encoding.h"

namespace platform {

int messageBox(WindowHandle owner, std::u16string_view text, std::u16string_view caption, unsigned type) {
  GtkWidget* ownerWidget = gtk::widgetOf(owner);
  GtkWindow* parent = ownerWidget != nullptr && GTK_IS_WINDOW(ownerWidget) ? GTK_WINDOW(ownerWidget) : nullptr;
  GtkMessageType kind = (type & kMbIconInformation) != 0 ? GTK_MESSAGE_INFO : GTK_MESSAGE_OTHER;
  std::string body = text::utf8FromUtf16(text);
  GtkWidget* dialog = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, kind, GTK_BUTTONS_OK, "%s", body.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), text::utf8FromUtf16(caption).c_str());
  gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
  gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  return kIdOk;
}

}  // namespace platform
