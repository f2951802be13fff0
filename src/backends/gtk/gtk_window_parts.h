// What the files that define FormWindow share: the records behind its signal handlers and its painted
// surfaces (complete wherever a FormWindow is made or destroyed, since it owns them), and a small helper.
#pragma once

#include <gtk/gtk.h>

#include "backends/gtk/gtk_window.h"

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

inline gboolean gboolean_of(bool value) { return value ? TRUE : FALSE; }

}  // namespace forms::gtk
