// The native window of one form: a GTK toplevel whose client area shows the form's drawing surfaces on a
// canvas, straight from their own pixels, with the form's other controls as GTK widgets over it, placed
// from the definition's twips at the form's DPI.
//
// A borderless form with drawing surfaces and no widgets (the clock windows), on a display that reads the
// frames as they stand, has a bare GDK toplevel instead: no GtkWindow, so the program loads no GTK theme and runs no
// widget machinery until a dialog needs them, which is most of a GTK program's start-up time and memory.
// Its events come from GDK through the platform (bare_event), and it puts its frames on itself.
//
// A form with drawing surfaces and no widgets (the clock windows) takes the keyboard and the pointer
// itself: a key that types a character and pointer motion that moves the pointer reach its handlers.
// The window can live inside a foreign X window (a preview host, XScreenSaver's window); it then watches
// that window and unloads its form when the host goes away.
//
// Geometry: the engine speaks device pixels; GTK places widgets in application pixels, which are device
// pixels divided by GDK's scale factor. The canvas draws the surfaces' pixels 1:1 onto device pixels.
//
// The members are defined by job: gtk_window.cpp (life, placement, state), gtk_controls.cpp (the dialog's
// widgets), gtk_paint.cpp (drawing and presenting), gtk_input.cpp (the saver's keys and pointer), gtk_foreign.cpp
// (living in a foreign window), gtk_bare.cpp (the bare toplevel); gtk_window_parts.h holds what they share.
#pragma once

#include <gtk/gtk.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "backends/gtk/x11/x11.h"
#include "forms/backend.h"
#include "forms/form.h"

namespace forms::gtk::x11 {
class FramePuts;
}

namespace forms::gtk {

class GtkPlatform;

// user32's style bits as the start-up code reads and writes them.
constexpr std::int32_t kWsPopup = static_cast<std::int32_t>(0x80000000u);
constexpr std::int32_t kWsVisible = 0x10000000;
constexpr std::int32_t kWsDialogFrame = 0x00C80000;  // caption and system menu

class FormWindow final : public NativeWindow {
 public:
  FormWindow(GtkPlatform& platform, Form& form);
  ~FormWindow() override;
  FormWindow(const FormWindow&) = delete;
  FormWindow& operator=(const FormWindow&) = delete;

  WindowHandle handle() const override;
  // Whether `handle` names this window (without making its X window when it has none yet).
  bool is(WindowHandle handle) const;
  Size client_size() const override { return m_client; }
  void set_visible(bool visible) override;
  void set_caption(const std::string& caption) override;
  void set_window_state(WindowStateKind state) override;
  void control_changed(Control& control) override;
  void present(PictureBox& box, std::span<const Rect> dirty) override;
  void destroy() override;

  // ---- The user32 calls on this window ----
  std::int32_t style() const;
  void set_style(std::int32_t style) { m_style = style; }
  WindowHandle owner() const { return m_owner; }
  void set_owner(WindowHandle owner) { m_owner = owner; }
  // Makes the window a child of `parent` (0: the root again); returns the previous parent, or 0.
  WindowHandle set_parent(x11::XId parent);
  bool set_position(WindowHandle insert_after, int x, int y, int cx, int cy, unsigned flags);

  Form& form() const { return m_form; }
  // The GtkWindow, or nullptr for a bare toplevel.
  GtkWindow* gtk_window() const { return m_window != nullptr ? GTK_WINDOW(m_window) : nullptr; }
  // The toplevel's GDK window once it has one, else nullptr.
  GdkWindow* toplevel() const;
  // Whether the toplevel may be destroyed by another client, with a host it lives or has lived in.
  x11::WindowFate fate() const { return m_hosted ? x11::WindowFate::MayGoWithHost : x11::WindowFate::OursAlone; }
  // The bare toplevel, or nullptr for a GtkWindow.
  GdkWindow* bare() const { return m_bare; }
  // An event GDK delivered for the bare toplevel. It may unload the form, and so end this window.
  void bare_event(GdkEvent& event);
  bool topmost() const { return m_topmost; }
  // A structure event of the foreign window this one lives in, or of this window's own X window, or the
  // change of the active window.
  void host_event(const x11::StructureEvent& event);

 private:
  struct Link;
  struct Painted;
  struct Flips;
  struct Placement {
    int left, top;  // where the frame's pixel (0, 0) lies on the toplevel's X window
    Rect shown;     // the part of the frame the form shows
  };

  // gtk_window.cpp
  void build();
  void build_frame();
  void place_window();
  void connect_window();
  void update_title();
  void apply_window_state(WindowStateKind state);
  void stay_on_top();
  GdkWindow* realized() const;
  bool mapped() const;
  void show_toplevel();
  void present_toplevel();
  void move_toplevel(int x, int y);
  void resize_toplevel(int width, int height);
  static gboolean on_configure(GtkWidget* widget, GdkEventConfigure* event, gpointer self);
  static gboolean on_delete(GtkWidget* widget, GdkEvent* event, gpointer self);
  static void on_destroyed(GtkWidget* widget, gpointer self);
  static void on_realize_fixed_frame(GtkWidget* widget, gpointer self);

  // gtk_controls.cpp
  void build_client_area();
  void build_control(Control& control);
  GtkWidget* container_widget(const Control& control) const;
  void place(Control& control, GtkWidget* widget);
  static void on_button_clicked(GtkButton* button, gpointer data);
  static void on_check_toggled(GtkToggleButton* button, gpointer data);
  static gboolean on_label_released(GtkWidget* widget, GdkEventButton* event, gpointer data);
  bool handle_dialog_key(const GdkEventKey& event);
  void move_focus(int step);
  std::vector<Control*> tab_stops() const;

  // gtk_paint.cpp
  Rect to_device(int x, int y, int width, int height) const;
  void paint_directly();
  const FrameBuffer& frame_of(PictureBox& box);
  Placement placement_of(const PictureBox& box) const;
  x11::FramePuts puts_of(const FrameBuffer& frame, const PictureBox& box) const;
  bool put(PictureBox& box, const Rect& area);
  bool present_directly(PictureBox& box, std::span<const Rect> dirty);
  void lend_pen(PictureBox& box);
  void flip(Flips& flips, Pixel color, std::span<const RowRun> runs);
  void take_pens_back();
  void draw_canvas(cairo_t* cr);
  cairo_surface_t* surface_of(PictureBox& box);
  static gboolean on_canvas_draw(GtkWidget* widget, cairo_t* cr, gpointer self);
  static gboolean on_image_draw(GtkWidget* widget, cairo_t* cr, gpointer data);
  static gboolean on_shape_draw(GtkWidget* widget, cairo_t* cr, gpointer data);

  // gtk_input.cpp
  static gboolean on_key_press(GtkWidget* widget, GdkEventKey* event, gpointer self);
  static gboolean on_motion(GtkWidget* widget, GdkEventMotion* event, gpointer self);
  static gboolean on_map(GtkWidget* widget, GdkEvent* event, gpointer self);
  static gboolean retry_grab(gpointer self);
  bool grab_keyboard();

  // gtk_bare.cpp
  static bool takes_bare_toplevel(const Form& form);
  void build_bare();
  void place_bare();
  void apply_bare_state(WindowStateKind state);
  void paint_bare(const cairo_region_t* region);
  void paint_bare_part(const Rect& part);
  void destroy_bare();

  // gtk_foreign.cpp
  void host_gone();
  static gboolean on_destroy_event(GtkWidget* widget, GdkEvent* event, gpointer self);

  GtkPlatform& m_platform;
  Form& m_form;
  int m_scale;
  Size m_client;
  GtkWidget* m_window = nullptr;
  GdkWindow* m_bare = nullptr;    // the bare toplevel, instead of m_window
  GtkWidget* m_canvas = nullptr;  // drawing surfaces, under everything
  GtkWidget* m_root = nullptr;    // the form's client area for widgets
  bool m_takes_input = false;     // keys and motion go to the form itself
  bool m_direct = false;          // the canvas alone fills the window and puts its frames on it itself
  bool m_in_hack = false;         // draws inside XScreenSaver's window
  bool m_shown = false;
  bool m_topmost = false;
  bool m_updating = false;   // a property change from the engine, not from the user
  bool m_lost_host = false;  // the window it was to live in named no window
  int m_grab_tries = 0;
  std::int32_t m_style = 0;
  WindowHandle m_owner = 0;
  x11::XId m_host = 0;
  bool m_hosted = false;  // it has lived in a host, and may be destroyed with it while requests are on their way
  std::map<const Control*, GtkWidget*> m_widgets;
  std::map<const Control*, GtkWidget*> m_containers;  // a frame's own client area
  std::map<const Control*, GtkWidget*> m_frames;      // a frame's border, under its client area
  std::vector<std::unique_ptr<Link>> m_links;
  std::map<const PictureBox*, std::unique_ptr<Painted>> m_painted;
  std::map<PictureBox*, std::unique_ptr<Flips>> m_flips;  // the screen pens lent to surfaces put directly
};

}  // namespace forms::gtk
