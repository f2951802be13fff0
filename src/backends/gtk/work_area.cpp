#include "backends/gtk/work_area.h"

#include <algorithm>

namespace forms::gtk {
namespace {

// The decoration a window manager puts around a window, in application pixels.
struct Frame {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

// A mapped window's frame, from the outer rectangle the window manager reports around it.
Frame frame_of(GdkWindow* window) {
  if (window == nullptr || !gdk_window_is_visible(window)) return {};
  GdkRectangle outer{};
  gdk_window_get_frame_extents(window, &outer);
  int x = 0;
  int y = 0;
  gdk_window_get_origin(window, &x, &y);
  const int width = gdk_window_get_width(window);
  const int height = gdk_window_get_height(window);
  return {std::max(0, x - outer.x), std::max(0, y - outer.y), std::max(0, outer.x + outer.width - x - width),
          std::max(0, outer.y + outer.height - y - height)};
}

GdkRectangle work_area_for(GdkWindow* owner) {
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* monitor = owner != nullptr ? gdk_display_get_monitor_at_window(display, owner) : nullptr;
  if (monitor == nullptr) monitor = gdk_display_get_primary_monitor(display);
  if (monitor == nullptr && gdk_display_get_n_monitors(display) > 0) monitor = gdk_display_get_monitor(display, 0);
  GdkRectangle area{0, 0, 640, 480};
  if (monitor != nullptr) gdk_monitor_get_workarea(monitor, &area);
  return area;
}

// The largest client area whose frame fits the work area.
void cap_size(GtkWindow* dialog, const GdkRectangle& area, const Frame& frame) {
  GdkGeometry hints{};
  hints.max_width = std::max(1, area.width - frame.left - frame.right);
  hints.max_height = std::max(1, area.height - frame.top - frame.bottom);
  gtk_window_set_geometry_hints(dialog, nullptr, &hints, GDK_HINT_MAX_SIZE);
}

gboolean on_dialog_mapped(GtkWidget* widget, GdkEvent* /*event*/, gpointer area_data) {
  const GdkRectangle area = *static_cast<GdkRectangle*>(area_data);
  GtkWindow* dialog = GTK_WINDOW(widget);
  GdkWindow* window = gtk_widget_get_window(widget);
  const Frame frame = frame_of(window);
  cap_size(dialog, area, frame);
  GdkRectangle outer{};
  gdk_window_get_frame_extents(window, &outer);
  const int width = std::min(gdk_window_get_width(window), area.width - frame.left - frame.right);
  const int height = std::min(gdk_window_get_height(window), area.height - frame.top - frame.bottom);
  const int outer_width = width + frame.left + frame.right;
  const int outer_height = height + frame.top + frame.bottom;
  const int x = std::clamp(outer.x, area.x, area.x + area.width - outer_width);
  const int y = std::clamp(outer.y, area.y, area.y + area.height - outer_height);
  if (x != outer.x || y != outer.y) gtk_window_move(dialog, x, y);
  if (width != gdk_window_get_width(window) || height != gdk_window_get_height(window)) {
    gtk_window_resize(dialog, std::max(1, width), std::max(1, height));
  }
  return FALSE;
}

}  // namespace

void keep_within_work_area(GtkWindow* dialog, GdkWindow* owner) {
  auto* area = g_new(GdkRectangle, 1);
  *area = work_area_for(owner);
  const Frame guess = frame_of(owner);
  cap_size(dialog, *area, guess);
  g_signal_connect_data(
      dialog, "map-event", G_CALLBACK(on_dialog_mapped), area,
      [](gpointer data, GClosure* /*closure*/) { g_free(data); }, GConnectFlags{});
}

}  // namespace forms::gtk
