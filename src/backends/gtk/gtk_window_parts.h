// What the files that define FormWindow share: the records behind its signal handlers, its painted surfaces
// and the screen pens it lends (complete wherever a FormWindow is made or destroyed, since it owns them), and
// a small helper.
#pragma once

#include <gtk/gtk.h>

#include <optional>

#include "backends/gtk/gtk_window.h"
#include "backends/gtk/x11/x11_frames.h"

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

// The screen pen lent to a surface whose frame the window puts on itself: the X server flips the window's
// own pixels. The requests wait in the connection's buffer (inside an error trap if the window may go with
// its host) until the form presents the surface.
struct FormWindow::Flips final : ScreenPen {
  FormWindow& window;
  PictureBox& box;
  std::optional<x11::PutBatch> batch;  // open from the first flip until the surface is presented

  Flips(FormWindow& w, PictureBox& b) : window(w), box(b) {}
  void flip(Pixel color, std::span<const RowRun> runs) override { window.flip(*this, color, runs); }
};

inline gboolean gboolean_of(bool value) { return value ? TRUE : FALSE; }

// A window with no colour of its own shows the platform's button face.
constexpr OleColor kButtonFace = 0xF0F0F0;

// The part of a surface the form shows: inside every container and the client area, or empty when the
// surface or a container is hidden.
inline Rect shown_area(const PictureBox& box, Size client) {
  Rect area = intersect(box.bounds_in_form(), {0, 0, client.width, client.height});
  if (!box.Visible()) return {};
  for (const Control* c = box.container(); c != nullptr; c = c->container()) {
    if (!c->Visible()) return {};
    area = intersect(area, c->bounds_in_form());
  }
  return area;
}

// GDK's number for the monitor whose geometry (in device pixels) is `bounds`, or -1.
int gdk_monitor_index(const Rect& bounds, int scale);

}  // namespace forms::gtk
