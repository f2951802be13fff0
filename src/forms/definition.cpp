#include "forms/definition.h"

#include "values/twips.h"

namespace forms {

Rect client_rect_on(const WindowDef& def, const Rect& monitor_bounds, double dpi) {
  const int x = monitor_bounds.left + twips_to_pixels(def.client_left, dpi);
  const int y = monitor_bounds.top + twips_to_pixels(def.client_top, dpi);
  return {x, y, x + twips_to_pixels(def.client_width, dpi), y + twips_to_pixels(def.client_height, dpi)};
}

}  // namespace forms
