// Window placement and visibility.
#include <gtk/gtk.h>

#include <algorithm>

#include "platform/gtk/widgets.h"
#include "platform/window.h"

namespace platform {

namespace {

struct Box {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// The screen position of a widget's client area. The dialog has no frame,
// so for a top-level window this is the window's own position.
bool originOf(GtkWidget* widget, int* x, int* y) {
  GtkWidget* toplevel = gtk_widget_get_toplevel(widget);
  if (!GTK_IS_WINDOW(toplevel)) return false;
  gtk_window_get_position(GTK_WINDOW(toplevel), x, y);
  if (toplevel == widget) return true;
  int inX = 0;
  int inY = 0;
  if (!gtk_widget_translate_coordinates(widget, toplevel, 0, 0, &inX, &inY)) {
    // Not laid out yet: the position it was put at in the client area.
    GtkWidget* parent = gtk_widget_get_parent(widget);
    if (parent == nullptr || !GTK_IS_LAYOUT(parent)) return false;
    gtk_container_child_get(GTK_CONTAINER(parent), widget, "x", &inX, "y", &inY, nullptr);
  }
  *x += inX;
  *y += inY;
  return true;
}

// A top-level window takes a new size only once the X server has configured
// it, while the window calls answer at once, as SetWindowPos does: until the
// window has been allocated the size asked for, that size is its size.
constexpr const char* kAskedWidthKey = "glimmerhold-asked-width";
constexpr const char* kAskedHeightKey = "glimmerhold-asked-height";

void forgetAskedSize(GtkWidget* window) {
  g_object_set_data(G_OBJECT(window), kAskedWidthKey, nullptr);
  g_object_set_data(G_OBJECT(window), kAskedHeightKey, nullptr);
}

void onWindowAllocated(GtkWidget* window, GdkRectangle* allocation, gpointer) {
  const int width = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(window), kAskedWidthKey)) - 1;
  const int height = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(window), kAskedHeightKey)) - 1;
  if (allocation->width == width && allocation->height == height) forgetAskedSize(window);
}

void askSize(GtkWidget* window, int width, int height) {
  if (g_object_get_data(G_OBJECT(window), kAskedWidthKey) == nullptr) {
    g_signal_handlers_disconnect_by_func(window, reinterpret_cast<gpointer>(onWindowAllocated), nullptr);
    g_signal_connect(window, "size-allocate", G_CALLBACK(onWindowAllocated), nullptr);
  }
  g_object_set_data(G_OBJECT(window), kAskedWidthKey, GINT_TO_POINTER(width + 1));
  g_object_set_data(G_OBJECT(window), kAskedHeightKey, GINT_TO_POINTER(height + 1));
  gtk_window_resize(GTK_WINDOW(window), width, height);
}

bool boxOf(GtkWidget* widget, Box* box) {
  if (!originOf(widget, &box->x, &box->y)) return false;
  if (GTK_IS_WINDOW(widget)) {
    gtk_window_get_size(GTK_WINDOW(widget), &box->width, &box->height);
    if (const int asked = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(widget), kAskedWidthKey)); asked > 0) {
      box->width = asked - 1;
      box->height = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(widget), kAskedHeightKey)) - 1;
    }
    return true;
  }
  // A child window is as large as it asked to be; the allocation catches up
  // only at the next layout.
  gtk_widget_get_size_request(widget, &box->width, &box->height);
  if (box->width < 0) box->width = gtk_widget_get_allocated_width(widget);
  if (box->height < 0) box->height = gtk_widget_get_allocated_height(widget);
  return true;
}

bool isIconified(GtkWidget* window) {
  GdkWindow* gdkWindow = gtk_widget_get_window(window);
  return gdkWindow != nullptr && (gdk_window_get_state(gdkWindow) & GDK_WINDOW_STATE_ICONIFIED) != 0;
}

// Keeps `start` so that [start, start + size) lies within [low, high); when
// it does not fit, the low edge wins.
int clampInto(int start, int size, int low, int high) { return std::max(low, std::min(start, high - size)); }

}  // namespace

WindowHandle activeWindow() {
  GList* toplevels = gtk_window_list_toplevels();
  GtkWidget* active = nullptr;
  for (GList* item = toplevels; item != nullptr; item = item->next) {
    if (gtk_window_is_active(GTK_WINDOW(item->data))) active = GTK_WIDGET(item->data);
  }
  g_list_free(toplevels);
  return gtk::handleOf(active);
}

bool windowRect(WindowHandle window, Rect* rect) {
  GtkWidget* widget = gtk::widgetOf(window);
  Box box;
  if (widget == nullptr || rect == nullptr || !boxOf(widget, &box)) return false;
  *rect = Rect{box.x, box.y, box.x + box.width, box.y + box.height};
  return true;
}

bool screenToClient(WindowHandle window, Point* point) {
  GtkWidget* widget = gtk::widgetOf(window);
  int x = 0;
  int y = 0;
  if (widget == nullptr || point == nullptr || !originOf(widget, &x, &y)) return false;
  point->x -= x;
  point->y -= y;
  return true;
}

bool centerWindow(WindowHandle window) {
  GtkWidget* widget = gtk::widgetOf(window);
  Box box;
  if (widget == nullptr || !GTK_IS_WINDOW(widget) || !boxOf(widget, &box)) return false;

  GtkWindow* owner = gtk_window_get_transient_for(GTK_WINDOW(widget));
  Box over;
  const bool overOwner = owner != nullptr && gtk_widget_get_visible(GTK_WIDGET(owner)) &&
                         !isIconified(GTK_WIDGET(owner)) && boxOf(GTK_WIDGET(owner), &over);
  GdkDisplay* display = gtk_widget_get_display(widget);
  GdkMonitor* monitor =
      overOwner ? gdk_display_get_monitor_at_point(display, over.x + over.width / 2, over.y + over.height / 2)
                : gdk_display_get_monitor_at_point(display, box.x + box.width / 2, box.y + box.height / 2);
  if (monitor == nullptr) return false;
  GdkRectangle area;
  gdk_monitor_get_workarea(monitor, &area);
  if (!overOwner) over = Box{area.x, area.y, area.width, area.height};

  const int x = clampInto(over.x + (over.width - box.width) / 2, box.width, area.x, area.x + area.width);
  const int y = clampInto(over.y + (over.height - box.height) / 2, box.height, area.y, area.y + area.height);
  gtk_window_move(GTK_WINDOW(widget), x, y);
  return true;
}

// As ShowWindow, the answer is whether the window was visible before.
bool showWindow(WindowHandle window, ShowCommand command) {
  GtkWidget* widget = gtk::widgetOf(window);
  if (widget == nullptr) return false;
  const bool wasVisible = gtk_widget_get_visible(widget);
  const bool toplevel = GTK_IS_WINDOW(widget);
  switch (command) {
    case ShowCommand::Hide: gtk_widget_hide(widget); break;
    case ShowCommand::Normal:
      if (toplevel) {
        gtk_window_deiconify(GTK_WINDOW(widget));
        gtk_window_present(GTK_WINDOW(widget));
      } else {
        gtk_widget_show(widget);
      }
      break;
    case ShowCommand::Minimized:
      // Without a window manager (a bare X server) iconifying does nothing
      // and the window simply shows.
      if (toplevel) gtk_window_iconify(GTK_WINDOW(widget));
      gtk_widget_show(widget);
      break;
  }
  return wasVisible;
}

bool resizeClient(WindowHandle window, int width, int height) {
  GtkWidget* widget = gtk::widgetOf(window);
  if (widget == nullptr || width < 0 || height < 0) return false;
  if (GTK_IS_WINDOW(widget)) {
    // The dialog has no frame: its window size is its client size. A window
    // cannot be made empty, so zero stands for the smallest size.
    askSize(widget, std::max(width, 1), std::max(height, 1));
  } else {
    gtk_widget_set_size_request(widget, width, height);
  }
  return true;
}

}  // namespace platform
