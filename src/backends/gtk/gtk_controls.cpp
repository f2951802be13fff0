// The dialog's widgets: the client area that holds them, one GTK widget per control placed from its
// twips, their signals, and Esc and Tab moving through them. While the engine updates a widget
// (m_updating), a check box's toggle is the engine's own change and goes back to no handler.
#include "backends/gtk/gtk_window.h"

#include <algorithm>

#include "backends/gtk/gtk_platform.h"
#include "backends/gtk/gtk_window_parts.h"

namespace forms::gtk {
namespace {

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

}  // namespace

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
    paint_directly();
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

void FormWindow::control_changed(Control& control) {
  if (m_bare != nullptr && control.kind() == ControlKind::PictureBox) {
    gdk_window_invalidate_rect(m_bare, nullptr, FALSE);
    return;
  }
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

}  // namespace forms::gtk
