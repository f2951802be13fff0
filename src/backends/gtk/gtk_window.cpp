#include "backends/gtk/gtk_window.h"

#include <algorithm>
#include <cmath>

#include "backends/gtk/gtk_platform.h"
#include "backends/gtk/keys.h"
#include "forms/user32.h"

namespace forms::gtk {

// What a control's signal handlers need: the window and the control.
struct FormWindow::Link {
  FormWindow* window;
  Control* control;
};

// A surface's pixels as cairo reads them, made once per frame buffer and never copied.
struct FormWindow::Painted {
  const Pixel* data = nullptr;
  Size size;
  cairo_surface_t* surface = nullptr;
  Painted() = default;
  Painted(const Painted&) = delete;
  Painted& operator=(const Painted&) = delete;
  ~Painted() {
    if (surface != nullptr) cairo_surface_destroy(surface);
  }
};

namespace {

gboolean gboolean_of(bool value) { return value ? TRUE : FALSE; }

// A window with no colour of its own shows the platform's button face.
constexpr OleColor kButtonFace = 0xF0F0F0;
constexpr int kGrabTries = 20;
constexpr unsigned kGrabRetryMs = 100;
// The most pixel bytes sent to the X server in one go (see draw_canvas).
constexpr int kBandBytes = 4 << 20;


void set_source_color(cairo_t* cr, OleColor color) {
  cairo_set_source_rgb(cr, red_of(color) / 255.0, green_of(color) / 255.0, blue_of(color) / 255.0);
}

// The control's caption font, sized for the form's DPI in application pixels.
void apply_font(GtkWidget* label, const FontDef& font, double dpi, int scale) {
  PangoFontDescription* description = pango_font_description_new();
  pango_font_description_set_family(description, font.face);
  pango_font_description_set_weight(description, font.bold() ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_font_description_set_absolute_size(description, font.size_points * dpi / 72.0 / scale * PANGO_SCALE);
  PangoAttrList* attributes = pango_attr_list_new();
  pango_attr_list_insert(attributes, pango_attr_font_desc_new(description));
  gtk_label_set_attributes(GTK_LABEL(label), attributes);
  pango_attr_list_unref(attributes);
  pango_font_description_free(description);
}

// Controls sized from twips are smaller than the theme's buttons: a 25-pixel button must still show its
// caption, so buttons and check boxes lose the theme's padding and minimum sizes.
void install_control_style() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  GtkCssProvider* provider = gtk_css_provider_new();
  gtk_css_provider_load_from_data(provider,
                                  "button.dialsaver { padding: 0 4px; min-height: 0; min-width: 0; }"
                                  "checkbutton.dialsaver { padding: 0; }",
                                  -1, nullptr);
  gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(provider),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(provider);
}

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

// GDK's number for the monitor whose geometry (in device pixels) is `bounds`, or -1.
int gdk_monitor_index(const Rect& bounds, int scale) {
  GdkDisplay* display = gdk_display_get_default();
  for (int i = 0; i < gdk_display_get_n_monitors(display); ++i) {
    GdkRectangle g{};
    gdk_monitor_get_geometry(gdk_display_get_monitor(display, i), &g);
    if (g.x * scale == bounds.left && g.y * scale == bounds.top) return i;
  }
  return -1;
}

bool takes_focus(ControlKind kind) { return kind == ControlKind::CommandButton || kind == ControlKind::CheckBox; }

bool is_widget(ControlKind kind) {
  switch (kind) {
    case ControlKind::Frame:
    case ControlKind::CommandButton:
    case ControlKind::Label:
    case ControlKind::CheckBox:
    case ControlKind::Image:
    case ControlKind::Shape:
      return true;
    default:
      return false;
  }
}

// The part of a surface the form shows: inside every container and the client area, or empty when the
// surface or a container is hidden.
Rect shown_area(const PictureBox& box, Size client) {
  Rect area = intersect(box.bounds_in_form(), {0, 0, client.width, client.height});
  if (!box.Visible()) return {};
  for (const Control* c = box.container(); c != nullptr; c = c->container()) {
    if (!c->Visible()) return {};
    area = intersect(area, c->bounds_in_form());
  }
  return area;
}

}  // namespace

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
  m_platform.remove_window(this);
  g_source_remove_by_user_data(this);
  if (m_window != nullptr) {
    g_signal_handlers_disconnect_by_data(m_window, this);
    gtk_widget_destroy(m_window);
  }
}

void FormWindow::build() {
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
  if (def.border_style == BorderStyle::FixedDialog) gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
  if (GdkPixbuf* icon = decode_icon(def.icon)) {
    gtk_window_set_icon(window, icon);
    g_object_unref(icon);
  }
}

// The canvas for the drawing surfaces, the widgets over it, the default button and the first focus.
void FormWindow::build_client_area() {
  bool has_surface = false;
  bool has_widgets = false;
  for (const auto& control : m_form.controls()) {
    has_surface = has_surface || control->kind() == ControlKind::PictureBox;
    has_widgets = has_widgets || is_widget(control->kind());
  }
  m_takes_input = has_surface && !has_widgets && !m_in_hack;
  m_root = gtk_fixed_new();
  if (has_surface) {
    m_canvas = gtk_drawing_area_new();
    g_signal_connect(m_canvas, "draw", G_CALLBACK(on_canvas_draw), this);
    gtk_widget_show(m_canvas);
  }
  if (has_surface && has_widgets) {
    GtkWidget* overlay = gtk_overlay_new();
    gtk_container_add(GTK_CONTAINER(overlay), m_canvas);
    gtk_overlay_add_overlay(GTK_OVERLAY(overlay), m_root);
    gtk_container_add(GTK_CONTAINER(m_window), overlay);
    gtk_widget_show(overlay);
  } else if (has_surface) {
    gtk_container_add(GTK_CONTAINER(m_window), m_canvas);
  } else {
    gtk_widget_set_size_request(m_root, m_client.width / m_scale, m_client.height / m_scale);
    gtk_container_add(GTK_CONTAINER(m_window), m_root);
  }
  gtk_widget_show(m_root);

  if (has_widgets) install_control_style();
  for (const auto& control : m_form.controls()) build_control(*control);
  for (const auto& control : m_form.controls()) {
    auto it = m_widgets.find(control.get());
    if (it == m_widgets.end() || !control->def().is_default) continue;
    gtk_widget_set_can_default(it->second, TRUE);
    gtk_widget_grab_default(it->second);
  }
  const std::vector<Control*> stops = tab_stops();
  if (!stops.empty()) gtk_window_set_focus(GTK_WINDOW(m_window), m_widgets[stops.front()]);
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

void FormWindow::build_control(Control& control) {
  if (!is_widget(control.kind())) return;
  if (const Control* box = control.container(); box != nullptr && box->kind() == ControlKind::PictureBox) return;
  const ControlDef& def = control.def();
  auto link = std::make_unique<Link>(Link{this, &control});
  GtkWidget* widget = nullptr;
  GtkWidget* caption = nullptr;
  switch (control.kind()) {
    case ControlKind::Frame: {
      widget = gtk_fixed_new();
      GtkWidget* border = gtk_frame_new(control.Caption().empty() ? nullptr : control.Caption().c_str());
      gtk_fixed_put(GTK_FIXED(widget), border, 0, 0);
      gtk_widget_show(border);
      m_frames[&control] = border;
      m_containers[&control] = widget;
      break;
    }
    case ControlKind::CommandButton:
      widget = gtk_button_new_with_label(control.Caption().c_str());
      gtk_style_context_add_class(gtk_widget_get_style_context(widget), "dialsaver");
      caption = gtk_bin_get_child(GTK_BIN(widget));
      g_signal_connect(widget, "clicked", G_CALLBACK(on_button_clicked), link.get());
      break;
    case ControlKind::CheckBox:
      widget = gtk_check_button_new_with_label(control.Caption().c_str());
      gtk_style_context_add_class(gtk_widget_get_style_context(widget), "dialsaver");
      caption = gtk_bin_get_child(GTK_BIN(widget));
      gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(widget),
                                   gboolean_of(static_cast<CheckBox&>(control).Value() == 1));
      // Enter on the check box goes to the default button, as it does on a button that is not focused.
      gtk_widget_set_receives_default(widget, FALSE);
      g_signal_connect(widget, "toggled", G_CALLBACK(on_check_toggled), link.get());
      break;
    case ControlKind::Label: {
      // An input-only event box: the label draws on its container, so the swatches listed after it are
      // drawn over it, while the clicks on them still land on the label.
      widget = gtk_event_box_new();
      gtk_event_box_set_visible_window(GTK_EVENT_BOX(widget), FALSE);
      caption = gtk_label_new(control.Caption().c_str());
      gtk_label_set_xalign(GTK_LABEL(caption), def.alignment == Alignment::Right    ? 1.0f
                                               : def.alignment == Alignment::Center ? 0.5f
                                                                                    : 0.0f);
      gtk_label_set_yalign(GTK_LABEL(caption), 0.0f);
      gtk_container_add(GTK_CONTAINER(widget), caption);
      gtk_widget_show(caption);
      gtk_widget_add_events(widget, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK);
      g_signal_connect(widget, "button-release-event", G_CALLBACK(on_label_released), link.get());
      break;
    }
    case ControlKind::Image:
    case ControlKind::Shape:
      // No window of its own: a shape takes no mouse input, and a click on it reaches what lies under it.
      widget = gtk_drawing_area_new();
      gtk_widget_set_has_window(widget, FALSE);
      g_signal_connect(widget, "draw", G_CALLBACK(control.kind() == ControlKind::Image ? on_image_draw : on_shape_draw),
                       link.get());
      break;
    default:
      return;
  }
  if (caption != nullptr && def.font) apply_font(caption, *def.font, m_form.dpi(), m_scale);
  gtk_fixed_put(GTK_FIXED(container_widget(control)), widget, 0, 0);
  gtk_widget_set_visible(widget, gboolean_of(control.Visible()));
  gtk_widget_set_sensitive(widget, gboolean_of(control.Enabled()));
  m_widgets[&control] = widget;
  m_links.push_back(std::move(link));
}

GtkWidget* FormWindow::container_widget(const Control& control) const {
  if (control.container() != nullptr) {
    auto it = m_containers.find(control.container());
    if (it != m_containers.end()) return it->second;
  }
  return m_root;
}

void FormWindow::place(Control& control, GtkWidget* widget) {
  const Rect& b = control.bounds();
  const int width = std::max(1, b.width() / m_scale);
  const int height = std::max(1, b.height() / m_scale);
  gtk_fixed_move(GTK_FIXED(container_widget(control)), widget, b.left / m_scale, b.top / m_scale);
  gtk_widget_set_size_request(widget, width, height);
  if (auto frame = m_frames.find(&control); frame != m_frames.end()) {
    gtk_widget_set_size_request(frame->second, width, height);
  }
}

WindowHandle FormWindow::handle() const {
  GdkWindow* window = realized();
  return window != nullptr ? static_cast<WindowHandle>(x11::id_of(window)) : 0;
}

bool FormWindow::is(WindowHandle handle) const {
  return handle != 0 && m_window != nullptr && gtk_widget_get_realized(m_window) != FALSE &&
         static_cast<WindowHandle>(x11::id_of(gtk_widget_get_window(m_window))) == handle;
}

GdkWindow* FormWindow::realized() const {
  if (m_window == nullptr) return nullptr;
  if (!gtk_widget_get_realized(m_window)) {
    gtk_widget_realize(m_window);
    // Every motion event is a mouse move the saver counts: none may be merged with the next.
    gdk_window_set_event_compression(gtk_widget_get_window(m_window), FALSE);
  }
  return gtk_widget_get_window(m_window);
}

std::int32_t FormWindow::style() const {
  const bool visible = m_window != nullptr && gtk_widget_get_visible(m_window) != FALSE;
  return visible ? (m_style | kWsVisible) : (m_style & ~kWsVisible);
}

void FormWindow::set_visible(bool visible) {
  if (m_window == nullptr) return;
  if (!visible) {
    m_shown = false;
    gtk_widget_hide(m_window);
    update_title();
    return;
  }
  if (m_in_hack && m_host == 0) {
    const x11::XId hack = *m_platform.hack_window();
    set_parent(hack);
    if (m_host == hack) {
      const Size size = x11::window_size(hack).value_or(m_client);
      gtk_window_move(GTK_WINDOW(m_window), 0, 0);
      gtk_window_resize(GTK_WINDOW(m_window), std::max(1, size.width / m_scale), std::max(1, size.height / m_scale));
    }
  }
  m_shown = true;
  update_title();
  if (m_takes_input) m_platform.remember_pointer();
  realized();
  gtk_widget_show(m_window);
  if (m_takes_input) gtk_window_present(GTK_WINDOW(m_window));
}

void FormWindow::set_caption(const std::string& caption) {
  (void)caption;
  update_title();
}

// The saver window bears the program's name once shown (what a second start looks for); a hidden one, or
// one drawing inside XScreenSaver's window, bears none.
void FormWindow::update_title() {
  if (m_window == nullptr) return;
  std::string title = m_form.Caption();
  if (m_form.def().titled_by_program && title.empty() && m_shown && !m_in_hack) title = m_platform.app_exe_name();
  gtk_window_set_title(GTK_WINDOW(m_window), title.c_str());
}

void FormWindow::set_window_state(WindowStateKind state) {
  if (m_in_hack || m_host != 0) return;
  apply_window_state(state);
}

// A maximised borderless window covers its monitor: it asks the window manager for full screen, and it
// is placed and sized to the monitor for a display without one.
void FormWindow::apply_window_state(WindowStateKind state) {
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

void FormWindow::control_changed(Control& control) {
  if (m_window == nullptr) return;
  if (control.kind() == ControlKind::PictureBox) {
    if (m_canvas != nullptr) gtk_widget_queue_draw(m_canvas);
    return;
  }
  auto it = m_widgets.find(&control);
  if (it == m_widgets.end()) return;
  GtkWidget* widget = it->second;
  m_updating = true;
  place(control, widget);
  gtk_widget_set_visible(widget, gboolean_of(control.Visible()));
  gtk_widget_set_sensitive(widget, gboolean_of(control.Enabled()));
  switch (control.kind()) {
    case ControlKind::CommandButton:
    case ControlKind::CheckBox:
    case ControlKind::Label:
      gtk_label_set_text(GTK_LABEL(gtk_bin_get_child(GTK_BIN(widget))), control.Caption().c_str());
      break;
    case ControlKind::Frame:
      gtk_frame_set_label(GTK_FRAME(m_frames[&control]),
                          control.Caption().empty() ? nullptr : control.Caption().c_str());
      break;
    default:
      break;
  }
  if (auto* check = dynamic_cast<CheckBox*>(&control)) {
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(widget), gboolean_of(check->Value() == 1));
  }
  if (control.kind() == ControlKind::Image || control.kind() == ControlKind::Shape) gtk_widget_queue_draw(widget);
  m_updating = false;
}

Rect FormWindow::to_device(int x, int y, int width, int height) const {
  return {x * m_scale, y * m_scale, (x + width) * m_scale, (y + height) * m_scale};
}

// Only the changed rectangles are drawn again; an unmapped window draws nothing and realises nothing.
void FormWindow::present(PictureBox& box, std::span<const Rect> dirty) {
  if (m_canvas == nullptr || !gtk_widget_get_mapped(m_canvas)) return;
  const Rect at = box.bounds_in_form();
  const Rect shown = shown_area(box, m_client);
  for (const Rect& r : dirty) {
    const Rect area = intersect({r.left + at.left, r.top + at.top, r.right + at.left, r.bottom + at.top}, shown);
    if (area.empty()) continue;
    const int x0 = area.left / m_scale;
    const int y0 = area.top / m_scale;
    const int x1 = (area.right + m_scale - 1) / m_scale;
    const int y1 = (area.bottom + m_scale - 1) / m_scale;
    gtk_widget_queue_draw_area(m_canvas, x0, y0, x1 - x0, y1 - y0);
  }
}

void FormWindow::destroy() {
  if (m_window != nullptr) gtk_widget_destroy(m_window);
}

WindowHandle FormWindow::set_parent(x11::XId parent) {
  GdkWindow* window = realized();
  if (window == nullptr) return 0;
  const x11::XId previous = m_host;
  const x11::XId target = parent != 0 ? parent : x11::root();
  if (!x11::watch_structure(target) || !x11::reparent(x11::id_of(window), target, 0, 0)) {
    // The host named no window: the preview has nowhere to live, so it ends as if its host had gone,
    // once the start-up code has finished with it.
    m_lost_host = true;
    g_idle_add(
        [](gpointer self) -> gboolean {
          static_cast<FormWindow*>(self)->host_gone();
          return G_SOURCE_REMOVE;
        },
        this);
    return 0;
  }
  m_host = parent;
  return previous;
}

bool FormWindow::set_position(WindowHandle insert_after, int x, int y, int cx, int cy, unsigned flags) {
  if (m_window == nullptr) return false;
  GtkWindow* window = GTK_WINDOW(m_window);
  if (insert_after == user32::kHwndTopmost) {
    m_topmost = true;
    if (!m_in_hack && m_host == 0) gtk_window_set_keep_above(window, TRUE);
  }
  if ((flags & user32::kSwpNoMove) == 0) gtk_window_move(window, x / m_scale, y / m_scale);
  if ((flags & user32::kSwpNoSize) == 0) {
    gtk_window_resize(window, std::max(1, cx / m_scale), std::max(1, cy / m_scale));
    m_client = {std::max(0, cx), std::max(0, cy)};
    m_form.client_resized(m_client);
  }
  if ((flags & user32::kSwpShowWindow) != 0 && !m_lost_host) gtk_widget_show(m_window);
  return true;
}

void FormWindow::host_event(const x11::StructureEvent& event) {
  if (m_host == 0 || m_window == nullptr) return;
  using Kind = x11::StructureEvent::Kind;
  const x11::XId own = gtk_widget_get_realized(m_window) ? x11::id_of(gtk_widget_get_window(m_window)) : 0;
  switch (event.kind) {
    case Kind::Destroyed:
      // The host's children die first: this window's own end usually brings the news.
      if (event.window == m_host || event.window == own) host_gone();
      break;
    case Kind::Reparented:
      // Taken out of the host (saved from its destruction into the root, say): the host is gone for us.
      if (event.window == own && event.parent != m_host) {
        host_gone();
      }
      break;
    case Kind::Configured:
      // XScreenSaver's window can change size (its settings preview does); the clock keeps filling it.
      if (m_in_hack && event.window == m_host && event.event == m_host) {
        gtk_window_resize(GTK_WINDOW(m_window), std::max(1, event.size.width / m_scale),
                          std::max(1, event.size.height / m_scale));
      }
      break;
    case Kind::Other:
      break;
  }
}

void FormWindow::host_gone() {
  m_host = 0;
  m_platform.dispatch([this] { m_form.native_destroyed(); });
}

// ---- Drawing ----

gboolean FormWindow::on_canvas_draw(GtkWidget* /*widget*/, cairo_t* cr, gpointer self) {
  auto* window = static_cast<FormWindow*>(self);
  window->m_platform.dispatch([&] { window->draw_canvas(cr); });
  return TRUE;
}

void FormWindow::draw_canvas(cairo_t* cr) {
  GdkRectangle clip{};
  if (gdk_cairo_get_clip_rectangle(cr, &clip) == 0) return;
  const Rect clip_px = to_device(clip.x, clip.y, clip.width, clip.height);
  // Two passes over the controls rather than a list of the shown ones: a paint allocates nothing.
  bool covered = false;
  for (const auto& control : m_form.controls()) {
    auto* box = dynamic_cast<PictureBox*>(control.get());
    if (box != nullptr && intersect(shown_area(*box, m_client), clip_px) == clip_px) covered = true;
  }
  if (!covered) {
    set_source_color(cr, m_form.def().back_color.value_or(kButtonFace));
    cairo_paint(cr);
  }
  const double scale = m_scale;
  for (const auto& control : m_form.controls()) {
    auto* box = dynamic_cast<PictureBox*>(control.get());
    if (box == nullptr) continue;
    const Rect part = intersect(shown_area(*box, m_client), clip_px);
    if (part.empty()) continue;
    cairo_surface_t* pixels = surface_of(*box);
    const Rect at = box->bounds_in_form();
    // cairo sends the pixels through a shared-memory block as large as what one paint uploads, and keeps
    // the block. A whole frame goes up in bands of a few megabytes, each waited for, so a block of one
    // band's size serves the first frame and every tick after it, not one of the screen's size.
    const int band_rows = std::max(1, kBandBytes / (part.width() * static_cast<int>(sizeof(Pixel))));
    for (int top = part.top; top < part.bottom; top += band_rows) {
      const int bottom = std::min(part.bottom, top + band_rows);
      cairo_save(cr);
      cairo_rectangle(cr, part.left / scale, top / scale, part.width() / scale, (bottom - top) / scale);
      cairo_clip(cr);
      cairo_set_source_surface(cr, pixels, at.left / scale, at.top / scale);
      cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
      cairo_paint(cr);
      cairo_restore(cr);
      if (bottom < part.bottom) gdk_display_sync(gtk_widget_get_display(m_canvas));
    }
  }
}

cairo_surface_t* FormWindow::surface_of(PictureBox& box) {
  const bool fresh = !box.realized();
  const FrameBuffer& frame = box.pixels();
  // A new image is drawn from here on as its parts are exposed; nothing of it is owed to the screen.
  if (fresh) box.clear_dirty();
  auto& painted = m_painted[&box];
  if (!painted) painted = std::make_unique<Painted>();
  if (painted->surface == nullptr || painted->data != frame.row(0) || painted->size != frame.size()) {
    if (painted->surface != nullptr) cairo_surface_destroy(painted->surface);
    auto* data = reinterpret_cast<unsigned char*>(const_cast<Pixel*>(frame.row(0)));
    painted->surface = cairo_image_surface_create_for_data(data, CAIRO_FORMAT_RGB24, frame.width(), frame.height(),
                                                           static_cast<int>(frame.stride() * sizeof(Pixel)));
    cairo_surface_set_device_scale(painted->surface, m_scale, m_scale);
    painted->data = frame.row(0);
    painted->size = frame.size();
  }
  // The engine changes the pixels behind cairo's back: forget any copy cairo keeps of them.
  cairo_surface_mark_dirty(painted->surface);
  return painted->surface;
}

gboolean FormWindow::on_image_draw(GtkWidget* widget, cairo_t* cr, gpointer data) {
  const auto& image = static_cast<const Image&>(*static_cast<Link*>(data)->control);
  const PictureRef& picture = image.Picture();
  if (!picture || picture->width() <= 0 || picture->height() <= 0) return FALSE;
  auto* pixels = reinterpret_cast<unsigned char*>(const_cast<std::uint32_t*>(picture->row(0)));
  cairo_surface_t* source = cairo_image_surface_create_for_data(pixels, CAIRO_FORMAT_ARGB32, picture->width(),
                                                                picture->height(), picture->width() * 4);
  cairo_save(cr);
  if (image.Stretch()) {
    cairo_scale(cr, gtk_widget_get_allocated_width(widget) / static_cast<double>(picture->width()),
                gtk_widget_get_allocated_height(widget) / static_cast<double>(picture->height()));
  } else {
    cairo_surface_set_device_scale(source, gtk_widget_get_scale_factor(widget), gtk_widget_get_scale_factor(widget));
  }
  cairo_set_source_surface(cr, source, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
  cairo_paint(cr);
  cairo_restore(cr);
  cairo_surface_destroy(source);
  return FALSE;
}

gboolean FormWindow::on_shape_draw(GtkWidget* widget, cairo_t* cr, gpointer data) {
  const auto& shape = static_cast<const Shape&>(*static_cast<Link*>(data)->control);
  const double width = gtk_widget_get_allocated_width(widget);
  const double height = gtk_widget_get_allocated_height(widget);
  const double pixel = 1.0 / gtk_widget_get_scale_factor(widget);
  set_source_color(cr, shape.FillColor());
  cairo_rectangle(cr, 0, 0, width, height);
  cairo_fill(cr);
  set_source_color(cr, shape.BorderColor());
  cairo_set_line_width(cr, pixel);
  cairo_rectangle(cr, pixel / 2, pixel / 2, width - pixel, height - pixel);
  cairo_stroke(cr);
  return FALSE;
}

// ---- Input ----

void FormWindow::on_button_clicked(GtkButton* /*button*/, gpointer data) {
  auto* link = static_cast<Link*>(data);
  link->window->m_platform.dispatch([link] { link->window->m_form.click(*link->control); });
}

void FormWindow::on_check_toggled(GtkToggleButton* button, gpointer data) {
  auto* link = static_cast<Link*>(data);
  if (link->window->m_updating) return;
  const bool active = gtk_toggle_button_get_active(button) != 0;
  link->window->m_platform.dispatch([link, active] {
    auto& check = static_cast<CheckBox&>(*link->control);
    if (active != (check.Value() == 1)) link->window->m_form.click(check);
  });
}

gboolean FormWindow::on_label_released(GtkWidget* widget, GdkEventButton* event, gpointer data) {
  if (event->button != 1) return FALSE;
  if (event->x < 0 || event->y < 0 || event->x >= gtk_widget_get_allocated_width(widget) ||
      event->y >= gtk_widget_get_allocated_height(widget)) {
    return FALSE;
  }
  auto* link = static_cast<Link*>(data);
  link->window->m_platform.dispatch([link] { link->window->m_form.click(*link->control); });
  return TRUE;
}

gboolean FormWindow::on_key_press(GtkWidget* /*widget*/, GdkEventKey* event, gpointer self) {
  auto* window = static_cast<FormWindow*>(self);
  if (!window->m_takes_input) return window->handle_dialog_key(*event) ? TRUE : FALSE;
  const int code = char_code_of(event->keyval, event->state);
  if (code != 0) window->m_platform.dispatch([window, code] { window->m_form.key_press(code); });
  return TRUE;
}

// Esc presses the cancel button wherever the focus is, and Tab follows the definition's tab order;
// Enter is GTK's: it presses the focused button, or else the default button.
bool FormWindow::handle_dialog_key(const GdkEventKey& event) {
  if (event.keyval == GDK_KEY_Escape) {
    for (const auto& control : m_form.controls()) {
      if (!control->def().is_cancel || !control->Visible() || !control->Enabled()) continue;
      Control* cancel = control.get();
      m_platform.dispatch([this, cancel] { m_form.click(*cancel); });
      return true;
    }
    return false;
  }
  if (event.keyval == GDK_KEY_Tab || event.keyval == GDK_KEY_KP_Tab || event.keyval == GDK_KEY_ISO_Left_Tab) {
    const bool back = event.keyval == GDK_KEY_ISO_Left_Tab || (event.state & GDK_SHIFT_MASK) != 0;
    move_focus(back ? -1 : 1);
    return true;
  }
  return false;
}

std::vector<Control*> FormWindow::tab_stops() const {
  std::vector<Control*> stops;
  for (const auto& control : m_form.controls()) {
    if (takes_focus(control->kind()) && control->def().tab_index >= 0 && m_widgets.contains(control.get()) &&
        control->Visible() && control->Enabled()) {
      stops.push_back(control.get());
    }
  }
  std::stable_sort(stops.begin(), stops.end(),
                   [](const Control* a, const Control* b) { return a->def().tab_index < b->def().tab_index; });
  return stops;
}

void FormWindow::move_focus(int step) {
  const std::vector<Control*> stops = tab_stops();
  if (stops.empty()) return;
  GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(m_window));
  int at = -1;
  for (std::size_t i = 0; i < stops.size(); ++i) {
    if (m_widgets.at(stops[i]) == focus) at = static_cast<int>(i);
  }
  const int count = static_cast<int>(stops.size());
  const int next = at < 0 ? (step > 0 ? 0 : count - 1) : ((at + step) % count + count) % count;
  gtk_widget_grab_focus(m_widgets.at(stops[static_cast<std::size_t>(next)]));
}

gboolean FormWindow::on_motion(GtkWidget* /*widget*/, GdkEventMotion* event, gpointer self) {
  auto* window = static_cast<FormWindow*>(self);
  if (!window->m_platform.pointer_moved(event->x_root, event->y_root)) return TRUE;
  const unsigned state = event->state;
  const int button = ((state & GDK_BUTTON1_MASK) != 0 ? 1 : 0) | ((state & GDK_BUTTON3_MASK) != 0 ? 2 : 0) |
                     ((state & GDK_BUTTON2_MASK) != 0 ? 4 : 0);
  const int shift = ((state & GDK_SHIFT_MASK) != 0 ? 1 : 0) | ((state & GDK_CONTROL_MASK) != 0 ? 2 : 0) |
                    ((state & GDK_MOD1_MASK) != 0 ? 4 : 0);
  const auto x = static_cast<float>(event->x * window->m_scale);
  const auto y = static_cast<float>(event->y * window->m_scale);
  window->m_platform.dispatch([=] { window->m_form.mouse_move(button, shift, x, y); });
  return TRUE;
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

// A shown window that covers its monitor (the saver) takes the keyboard, as a screen saver does, so that
// every key reaches it whichever window had the focus; keys meant for the program's other windows still
// reach them. A window living in another (the preview) leaves the keyboard to its host.
gboolean FormWindow::on_map(GtkWidget* /*widget*/, GdkEvent* /*event*/, gpointer self) {
  auto* window = static_cast<FormWindow*>(self);
  const bool covers = window->m_form.WindowState() == WindowStateKind::Maximized;
  if (window->m_takes_input && covers && window->m_host == 0 && !window->grab_keyboard()) {
    window->m_grab_tries = 0;
    g_timeout_add(kGrabRetryMs, retry_grab, window);
  }
  return FALSE;
}

gboolean FormWindow::retry_grab(gpointer self) {
  auto* window = static_cast<FormWindow*>(self);
  if (window->m_window == nullptr || !gtk_widget_get_mapped(window->m_window)) return G_SOURCE_REMOVE;
  if (window->grab_keyboard() || ++window->m_grab_tries >= kGrabTries) return G_SOURCE_REMOVE;
  return G_SOURCE_CONTINUE;
}

bool FormWindow::grab_keyboard() {
  GdkWindow* window = gtk_widget_get_window(m_window);
  if (window == nullptr) return false;
  GdkSeat* seat = gdk_display_get_default_seat(gdk_window_get_display(window));
  return gdk_seat_grab(seat, window, GDK_SEAT_CAPABILITY_KEYBOARD, TRUE, nullptr, nullptr, nullptr, nullptr) ==
         GDK_GRAB_SUCCESS;
}

gboolean FormWindow::on_delete(GtkWidget* /*widget*/, GdkEvent* /*event*/, gpointer self) {
  auto* window = static_cast<FormWindow*>(self);
  window->m_platform.dispatch([window] { window->m_form.close_request(); });
  return TRUE;
}

// The X window was destroyed under us: its parent (a preview host) went away, and took it along.
gboolean FormWindow::on_destroy_event(GtkWidget* /*widget*/, GdkEvent* /*event*/, gpointer self) {
  auto* window = static_cast<FormWindow*>(self);
  window->m_host = 0;
  window->m_platform.dispatch([window] { window->m_form.native_destroyed(); });
  return FALSE;
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
