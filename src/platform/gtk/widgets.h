// How window handles map onto GTK widgets in this backend.
//
// A WindowHandle is the GtkWidget* itself. The dialog is a GtkWindow whose
// only child, a GtkLayout, stands for its client area: child windows sit in
// it at fixed positions and may be larger than the dialog, which clips them,
// as a Windows dialog clips its children.
#pragma once

#include <gtk/gtk.h>

#include "platform/window.h"

namespace platform::gtk {

inline GtkWidget* widgetOf(WindowHandle handle) {
  auto* widget = reinterpret_cast<GtkWidget*>(handle);
  return widget != nullptr && GTK_IS_WIDGET(widget) ? widget : nullptr;
}

inline WindowHandle handleOf(GtkWidget* widget) { return reinterpret_cast<WindowHandle>(widget); }

// The container that child windows of `window` go into: the window's
// client-area layout, or the layout itself. Null for anything else.
inline GtkWidget* clientAreaOf(GtkWidget* window) {
  if (window == nullptr) return nullptr;
  if (GTK_IS_LAYOUT(window)) return window;
  if (GTK_IS_WINDOW(window)) {
    GtkWidget* child = gtk_bin_get_child(GTK_BIN(window));
    if (child != nullptr && GTK_IS_LAYOUT(child)) return child;
  }
  return nullptr;
}

}  // namespace platform::gtk
