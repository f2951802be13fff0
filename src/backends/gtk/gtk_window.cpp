// FormWindow's life, placement and state: the toplevel made from the definition, where it starts, its
// title, how it covers its monitor, and the user32 calls on it. When GTK destroys the toplevel,
// on_destroyed forgets it and every widget in it, so no later call touches a destroyed GTK object.
#include "backends/gtk/gtk_window.h"

#include <algorithm>
#include <utility>

#include "backends/gtk/gtk_platform.h"
#include "backends/gtk/gtk_window_parts.h"
#include "backends/gtk/x11/x11_frames.h"
#include "forms/user32.h"

namespace forms::gtk {
namespace {

GdkPixbuf* decode_icon(std::span<const std::byte> bytes) {
  if (bytes.empty()) return nullptr;
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
  GdkPixbuf* icon = nullptr;
  if (gdk_pixbuf_loader_write(loader, reinterpret_cast<const guchar*>(bytes.data()), bytes.size(), nullptr) != 0 &&
      gdk_pixbuf_loader_close(loader, nullptr) != 0) {
    icon = gdk_pixbuf_loader_get_pixbuf(loader);
    if (icon != nullptr) g_object_ref(icon);
  } else {
    gdk_pixbuf_loader_close(loader, nullptr);
  }
  g_object_unref(loader);
  return icon;
}

}  // namespace

int gdk_monitor_index(const Rect& bounds, int scale) {
  GdkDisplay* display = gdk_display_get_default();
  for (int i = 0; i < gdk_display_get_n_monitors(display); ++i) {
    GdkRectangle g{};
    gdk_monitor_get_geometry(gdk_display_get_monitor(display, i), &g);
    if (g.x * scale == bounds.left && g.y * scale == bounds.top) return i;
  }
  return -1;
}

FormWindow::FormWindow(GtkPlatform& platform, Form& form)
    : m_platform(platform), m_form(form), m_scale(platform.scale()) {
  const WindowDef& def = form.def();
  m_in_hack = def.titled_by_program && platform.hack_window().has_value();
  const Rect placed = form.initial_client_rect();
  m_client = {placed.width(), placed.height()};
  m_style = def.border_style == BorderStyle::None ? kWsPopup : kWsDialogFrame;
  build();
  platform.add_window(this);
}

FormWindow::~FormWindow() {
  take_pens_back();
  m_platform.remove_window(this);
  g_source_remove_by_user_data(this);
  if (m_window != nullptr) {
    g_signal_handlers_disconnect_by_data(m_window, this);
    gtk_widget_destroy(m_window);
  }
  destroy_bare();
}

void FormWindow::build() {
  // The bare toplevel puts its frames: a display that cannot read them has the canvas draw them by cairo.
  if (takes_bare_toplevel(m_form) && m_platform.pixel_path() != x11::PixelPath::Cairo) {
    build_bare();
    return;
  }
  m_platform.need_gtk();
  m_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  build_frame();
  build_client_area();
  place_window();
  connect_window();
  apply_window_state(m_form.WindowState());
}

// The window's own dress: title, border, taskbar presence, icon.
void FormWindow::build_frame() {
  const WindowDef& def = m_form.def();
  GtkWindow* window = GTK_WINDOW(m_window);
  update_title();
  gtk_window_set_decorated(window, gboolean_of(def.border_style != BorderStyle::None));
  gtk_window_set_resizable(
      window, gboolean_of(def.border_style == BorderStyle::None || def.border_style == BorderStyle::Sizable));
  if (!def.show_in_taskbar) {
    gtk_window_set_skip_taskbar_hint(window, TRUE);
    gtk_window_set_skip_pager_hint(window, TRUE);
  }
  if (def.border_style == BorderStyle::FixedDialog) {
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
    g_signal_connect(m_window, "realize", G_CALLBACK(on_realize_fixed_frame), this);
  }
  if (GdkPixbuf* icon = decode_icon(def.icon)) {
    gtk_window_set_icon(window, icon);
    g_object_unref(icon);
  }
}

// A fixed dialog frame offers the window manager moving and closing only: the Motif hints GDK sets from
// these leave no minimise or maximise box and no resizing, which a non-resizable GTK window alone does
// not ensure (a manager still lets it be minimised).
void FormWindow::on_realize_fixed_frame(GtkWidget* widget, gpointer /*self*/) {
  GdkWindow* window = gtk_widget_get_window(widget);
  gdk_window_set_functions(window, static_cast<GdkWMFunction>(GDK_FUNC_MOVE | GDK_FUNC_CLOSE));
  gdk_window_set_decorations(window, static_cast<GdkWMDecoration>(GDK_DECOR_BORDER | GDK_DECOR_TITLE | GDK_DECOR_MENU));
}

// A maximised window starts on its monitor; a dialog in the middle of the screen; any other window where
// its definition puts it.
void FormWindow::place_window() {
  const WindowDef& def = m_form.def();
  GtkWindow* window = GTK_WINDOW(m_window);
  gtk_window_set_default_size(window, std::max(1, m_client.width / m_scale), std::max(1, m_client.height / m_scale));
  const bool centred =
      def.startup_position == StartUpPosition::CenterOwner || def.startup_position == StartUpPosition::CenterScreen;
  if (m_form.WindowState() != WindowStateKind::Maximized && def.border_style != BorderStyle::None && centred) {
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);
  } else {
    const Rect placed = m_form.initial_client_rect();
    gtk_window_move(window, placed.left / m_scale, placed.top / m_scale);
  }
}

void FormWindow::connect_window() {
  g_signal_connect(m_window, "delete-event", G_CALLBACK(on_delete), this);
  g_signal_connect(m_window, "destroy-event", G_CALLBACK(on_destroy_event), this);
  g_signal_connect(m_window, "destroy", G_CALLBACK(on_destroyed), this);
  g_signal_connect(m_window, "configure-event", G_CALLBACK(on_configure), this);
  g_signal_connect(m_window, "map-event", G_CALLBACK(on_map), this);
  g_signal_connect(m_window, "key-press-event", G_CALLBACK(on_key_press), this);
  gtk_widget_add_events(m_window, GDK_KEY_PRESS_MASK | GDK_STRUCTURE_MASK);
  if (m_takes_input) {
    gtk_widget_add_events(m_window, GDK_POINTER_MOTION_MASK);
    g_signal_connect(m_window, "motion-notify-event", G_CALLBACK(on_motion), this);
  }
}

WindowHandle FormWindow::handle() const {
  GdkWindow* window = realized();
  return window != nullptr ? static_cast<WindowHandle>(x11::id_of(window)) : 0;
}

bool FormWindow::is(WindowHandle handle) const {
  return handle != 0 && static_cast<WindowHandle>(x11::id_of(toplevel())) == handle;
}

GdkWindow* FormWindow::realized() const {
  if (m_bare != nullptr) return m_bare;
  if (m_window == nullptr) return nullptr;
  if (!gtk_widget_get_realized(m_window)) {
    gtk_widget_realize(m_window);
    // Every motion event is a mouse move the saver counts: none may be merged with the next.
    gdk_window_set_event_compression(gtk_widget_get_window(m_window), FALSE);
  }
  return gtk_widget_get_window(m_window);
}

GdkWindow* FormWindow::toplevel() const {
  if (m_bare != nullptr) return m_bare;
  return m_window != nullptr && gtk_widget_get_realized(m_window) ? gtk_widget_get_window(m_window) : nullptr;
}

// Whether the toplevel is shown (asked to be mapped, whether or not the server has mapped it yet).
bool FormWindow::mapped() const {
  if (m_bare != nullptr) return gdk_window_is_visible(m_bare) != FALSE;
  return m_window != nullptr && gtk_widget_get_mapped(m_window) != FALSE;
}

void FormWindow::show_toplevel() {
  if (m_bare != nullptr) {
    gdk_window_show(m_bare);
    // GTK ends a launcher's startup notification when its first window maps; a bare toplevel does it itself.
    gdk_notify_startup_complete();
  } else if (m_window != nullptr) {
    gtk_widget_show(m_window);
  }
}

// Shown, raised and given the focus, as the window manager allows.
void FormWindow::present_toplevel() {
  if (m_bare == nullptr) {
    if (m_window != nullptr) gtk_window_present(GTK_WINDOW(m_window));
    return;
  }
  gdk_window_show(m_bare);
  gdk_window_focus(m_bare, x11::user_time());
}

// Application pixels, as GTK and GDK place windows.
void FormWindow::move_toplevel(int x, int y) {
  if (m_bare != nullptr) {
    gdk_window_move(m_bare, x, y);
  } else if (m_window != nullptr) {
    gtk_window_move(GTK_WINDOW(m_window), x, y);
  }
}

void FormWindow::resize_toplevel(int width, int height) {
  if (m_bare != nullptr) {
    gdk_window_resize(m_bare, std::max(1, width), std::max(1, height));
  } else if (m_window != nullptr) {
    gtk_window_resize(GTK_WINDOW(m_window), std::max(1, width), std::max(1, height));
  }
}

std::int32_t FormWindow::style() const {
  const bool visible = m_bare != nullptr ? gdk_window_is_visible(m_bare) != FALSE
                                         : m_window != nullptr && gtk_widget_get_visible(m_window) != FALSE;
  return visible ? (m_style | kWsVisible) : (m_style & ~kWsVisible);
}

void FormWindow::set_visible(bool visible) {
  if (m_window == nullptr && m_bare == nullptr) return;
  if (!visible) {
    m_shown = false;
    if (m_bare != nullptr) {
      gdk_window_hide(m_bare);
    } else {
      gtk_widget_hide(m_window);
    }
    update_title();
    return;
  }
  if (m_in_hack && m_host == 0) {
    const x11::XId hack = *m_platform.hack_window();
    set_parent(hack);
    if (m_host == hack) {
      const Size size = x11::window_size(hack).value_or(m_client);
      move_toplevel(0, 0);
      resize_toplevel(size.width / m_scale, size.height / m_scale);
    }
  }
  m_shown = true;
  update_title();
  if (m_takes_input) m_platform.remember_pointer();
  realized();
  show_toplevel();
  if (m_takes_input) present_toplevel();
}

void FormWindow::set_caption(const std::string& caption) {
  (void)caption;
  update_title();
}

// The saver window bears the program's name once shown (what a second start looks for); a hidden one, or
// one drawing inside XScreenSaver's window, bears none.
void FormWindow::update_title() {
  std::string title = m_form.Caption();
  if (m_form.def().titled_by_program && title.empty() && m_shown && !m_in_hack) title = m_platform.app_exe_name();
  if (m_bare != nullptr) {
    gdk_window_set_title(m_bare, title.c_str());
  } else if (m_window != nullptr) {
    gtk_window_set_title(GTK_WINDOW(m_window), title.c_str());
  }
}

void FormWindow::set_window_state(WindowStateKind state) {
  if (m_in_hack || m_host != 0) return;
  apply_window_state(state);
}

// A maximised borderless window covers its monitor: it asks the window manager for full screen, and it
// is placed and sized to the monitor for a display without one.
void FormWindow::apply_window_state(WindowStateKind state) {
  if (m_bare != nullptr && !m_in_hack) apply_bare_state(state);
  if (m_window == nullptr || m_in_hack) return;
  GtkWindow* window = GTK_WINDOW(m_window);
  const Rect& screen = m_form.monitor().bounds;
  switch (state) {
    case WindowStateKind::Maximized:
      if (m_form.def().border_style != BorderStyle::None) {
        gtk_window_maximize(window);
        break;
      }
      gtk_window_move(window, screen.left / m_scale, screen.top / m_scale);
      gtk_window_resize(window, std::max(1, screen.width() / m_scale), std::max(1, screen.height() / m_scale));
      if (const int index = gdk_monitor_index(screen, m_scale); index >= 0) {
        gtk_window_fullscreen_on_monitor(window, gdk_screen_get_default(), index);
      } else {
        gtk_window_fullscreen(window);
      }
      break;
    case WindowStateKind::Minimized:
      gtk_window_iconify(window);
      break;
    case WindowStateKind::Normal:
      gtk_window_unfullscreen(window);
      gtk_window_unmaximize(window);
      gtk_window_deiconify(window);
      break;
  }
}

void FormWindow::destroy() {
  if (m_window != nullptr) gtk_widget_destroy(m_window);
  destroy_bare();
}

bool FormWindow::set_position(WindowHandle insert_after, int x, int y, int cx, int cy, unsigned flags) {
  if (m_window == nullptr && m_bare == nullptr) return false;
  if (insert_after == user32::kHwndTopmost) {
    m_topmost = true;
    if (!m_in_hack && m_host == 0) {
      if (m_bare != nullptr) {
        gdk_window_set_keep_above(m_bare, TRUE);
      } else {
        gtk_window_set_keep_above(GTK_WINDOW(m_window), TRUE);
      }
    }
  }
  if ((flags & user32::kSwpNoMove) == 0) move_toplevel(x / m_scale, y / m_scale);
  if ((flags & user32::kSwpNoSize) == 0) {
    resize_toplevel(cx / m_scale, cy / m_scale);
    m_client = {std::max(0, cx), std::max(0, cy)};
    m_form.client_resized(m_client);
  }
  if ((flags & user32::kSwpShowWindow) != 0 && !m_lost_host) show_toplevel();
  return true;
}

// A shown window that stays on top takes the focus back when another program's window becomes active:
// xfwm4 moves a full-screen window that loses the focus down to the normal windows' layer, whatever its
// above state, so a window that maps over the saver would stay over it. The program's own windows (a
// message box over the saver) may take the focus.
void FormWindow::stay_on_top() {
  if (!m_topmost || m_in_hack || m_host != 0 || !m_shown || !mapped()) return;
  const x11::XId active = x11::active_window();
  if (active == 0 || x11::is_own(active)) return;
  present_toplevel();
}

gboolean FormWindow::on_configure(GtkWidget* /*widget*/, GdkEventConfigure* event, gpointer self) {
  auto* window = static_cast<FormWindow*>(self);
  const Size client{event->width * window->m_scale, event->height * window->m_scale};
  if (client != window->m_client) {
    window->m_client = client;
    window->m_platform.dispatch([window, client] { window->m_form.client_resized(client); });
  }
  return FALSE;
}

gboolean FormWindow::on_delete(GtkWidget* /*widget*/, GdkEvent* /*event*/, gpointer self) {
  auto* window = static_cast<FormWindow*>(self);
  window->m_platform.dispatch([window] { window->m_form.close_request(); });
  return TRUE;
}

void FormWindow::on_destroyed(GtkWidget* /*widget*/, gpointer self) {
  auto* window = static_cast<FormWindow*>(self);
  window->m_window = nullptr;
  window->m_canvas = nullptr;
  window->m_root = nullptr;
  window->m_widgets.clear();
  window->m_containers.clear();
  window->m_frames.clear();
}

}  // namespace forms::gtk
