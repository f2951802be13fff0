// The bare toplevel of a clock window: a GDK window with no GtkWindow around it, made, placed and painted
// by this file, its events handed over by the platform. It behaves as the GtkWindow it replaces: the same
// title, window-manager hints and states, the same handlers for keys, motion, mapping, resizing, closing
// and destruction, and the same painting (the surfaces' frames put on the window, the form's colour where
// no surface lies).
#include <algorithm>
#include <string>

#include "backends/gtk/gtk_platform.h"
#include "backends/gtk/gtk_window.h"
#include "backends/gtk/gtk_window_parts.h"
#include "backends/gtk/x11/x11_frames.h"

namespace forms::gtk {

// A borderless form of drawing surfaces alone (its other controls have no widget).
bool FormWindow::takes_bare_toplevel(const Form& form) {
  if (form.def().border_style != BorderStyle::None) return false;
  bool has_surface = false;
  for (const auto& control : form.controls()) {
    switch (control->kind()) {
      case ControlKind::PictureBox:
        has_surface = true;
        break;
      case ControlKind::Timer:
      case ControlKind::CommonDialog:
        break;
      default:
        return false;
    }
  }
  return has_surface;
}

void FormWindow::build_bare() {
  const WindowDef& def = m_form.def();
  m_takes_input = !m_in_hack;
  m_direct = true;
  GdkWindowAttr attributes{};
  attributes.window_type = GDK_WINDOW_TOPLEVEL;
  attributes.wclass = GDK_INPUT_OUTPUT;
  attributes.width = std::max(1, m_client.width / m_scale);
  attributes.height = std::max(1, m_client.height / m_scale);
  attributes.event_mask =
      GDK_EXPOSURE_MASK | GDK_STRUCTURE_MASK | GDK_KEY_PRESS_MASK | (m_takes_input ? GDK_POINTER_MOTION_MASK : 0);
  // The class GTK gives its windows: the program's name, and that name capitalised.
  std::string name = g_get_prgname() != nullptr ? g_get_prgname() : "";
  std::string program_class = gdk_get_program_class() != nullptr ? gdk_get_program_class() : "";
  attributes.wmclass_name = name.data();
  attributes.wmclass_class = program_class.data();
  m_bare = gdk_window_new(nullptr, &attributes, GDK_WA_WMCLASS);
  x11::keep_background(x11::id_of(m_bare));
  // Every motion event is a mouse move the saver counts: none may be merged with the next.
  gdk_window_set_event_compression(m_bare, FALSE);
  gdk_window_set_type_hint(m_bare, GDK_WINDOW_TYPE_HINT_NORMAL);
  gdk_window_set_decorations(m_bare, static_cast<GdkWMDecoration>(0));
  if (!def.show_in_taskbar) {
    gdk_window_set_skip_taskbar_hint(m_bare, TRUE);
    gdk_window_set_skip_pager_hint(m_bare, TRUE);
  }
  update_title();
  place_bare();
  apply_window_state(m_form.WindowState());
}

// Where GTK places a borderless window, with the size hints GTK gives a window the program places.
void FormWindow::place_bare() {
  const Rect placed = m_form.initial_client_rect();
  gdk_window_move(m_bare, placed.left / m_scale, placed.top / m_scale);
  GdkGeometry geometry{};
  geometry.win_gravity = GDK_GRAVITY_NORTH_WEST;
  gdk_window_set_geometry_hints(
      m_bare, &geometry,
      static_cast<GdkWindowHints>(GDK_HINT_POS | GDK_HINT_MIN_SIZE | GDK_HINT_BASE_SIZE | GDK_HINT_WIN_GRAVITY));
}

void FormWindow::apply_bare_state(WindowStateKind state) {
  const Rect& screen = m_form.monitor().bounds;
  switch (state) {
    case WindowStateKind::Maximized:
      // Borderless, it covers its monitor, as the GtkWindow does.
      gdk_window_move_resize(m_bare, screen.left / m_scale, screen.top / m_scale, std::max(1, screen.width() / m_scale),
                             std::max(1, screen.height() / m_scale));
      if (const int index = gdk_monitor_index(screen, m_scale); index >= 0) {
        gdk_window_fullscreen_on_monitor(m_bare, index);
      } else {
        gdk_window_fullscreen(m_bare);
      }
      break;
    case WindowStateKind::Minimized:
      gdk_window_iconify(m_bare);
      break;
    case WindowStateKind::Normal:
      gdk_window_unfullscreen(m_bare);
      gdk_window_unmaximize(m_bare);
      gdk_window_deiconify(m_bare);
      break;
  }
}

void FormWindow::destroy_bare() {
  GdkWindow* bare = m_bare;
  if (bare == nullptr) return;
  m_bare = nullptr;
  gdk_window_destroy(bare);
  g_object_unref(bare);
}

// While a modal dialog holds GTK's grab, GTK gives the keys typed in the program's other windows to the
// dialog and drops their pointer motion and close requests; so does a bare toplevel.
void FormWindow::bare_event(GdkEvent& event) {
  GtkWidget* grab = m_platform.gtk_started() ? gtk_grab_get_current() : nullptr;
  switch (event.type) {
    case GDK_EXPOSE:
      paint_bare(event.expose.region);
      break;
    case GDK_CONFIGURE:
      on_configure(nullptr, &event.configure, this);
      break;
    case GDK_MAP:
      on_map(nullptr, &event, this);
      break;
    case GDK_DESTROY:
      on_destroy_event(nullptr, &event, this);
      break;
    case GDK_DELETE:
      if (grab == nullptr) on_delete(nullptr, &event, this);
      break;
    case GDK_KEY_PRESS:
      if (grab != nullptr) {
        gtk_propagate_event(grab, &event);
      } else {
        on_key_press(nullptr, &event.key, this);
      }
      break;
    case GDK_MOTION_NOTIFY:
      if (grab == nullptr) on_motion(nullptr, &event.motion, this);
      break;
    default:
      break;
  }
}

void FormWindow::paint_bare(const cairo_region_t* region) {
  if (m_bare == nullptr || region == nullptr) return;
  const x11::PutBatch batch(fate());
  for (int i = 0; i < cairo_region_num_rectangles(region); ++i) {
    cairo_rectangle_int_t r{};
    cairo_region_get_rectangle(region, i, &r);
    paint_bare_part(to_device(r.x, r.y, r.width, r.height));
  }
}

// As draw_canvas: the form's colour where no surface covers the part, then the surfaces' pixels over it.
void FormWindow::paint_bare_part(const Rect& part) {
  const x11::XId window = x11::id_of(m_bare);
  bool covered = false;
  for (const auto& control : m_form.controls()) {
    auto* box = dynamic_cast<PictureBox*>(control.get());
    if (box != nullptr && intersect(shown_area(*box, m_client), part) == part) covered = true;
  }
  if (!covered) x11::fill(window, part, to_pixel(m_form.def().back_color.value_or(kButtonFace)));
  for (const auto& control : m_form.controls()) {
    auto* box = dynamic_cast<PictureBox*>(control.get());
    if (box == nullptr) continue;
    const Rect shown = intersect(shown_area(*box, m_client), part);
    if (!shown.empty()) put(*box, shown);
  }
}

}  // namespace forms::gtk
