// A user coordinate system over an area of pixels: the user point (x, y) lies at pixel
// ((x - left) * area width / width, (y - top) * area height / height). Until a scale is set, one unit is
// `default_unit_pixels` pixels (1: the pixel scale; 1/15 at 96 dpi: twips) and the width and height follow
// the area; setting any of the four fixes all four, the others keeping the values they had.
#pragma once

#include "values/geometry.h"

namespace forms {

class UserScale {
 public:
  // The area's size in pixels, and the size of a unit before a scale is set.
  void set_area(Size pixels) { m_area = pixels; }
  void set_default_unit_pixels(double pixels_per_unit) { m_default_unit_pixels = pixels_per_unit; }
  Size area() const { return m_area; }

  float left() const { return m_left; }
  float top() const { return m_top; }
  float width() const;
  float height() const;
  void set_left(float value);
  void set_top(float value);
  void set_width(float value);
  void set_height(float value);

  // Pixels of a user point (fractional); 0 while the scale has no extent.
  double to_pixel_x(double x) const;
  double to_pixel_y(double y) const;
  // User units of a pixel position; `left` or `top` while the area has no extent.
  double to_unit_x(double pixels) const;
  double to_unit_y(double pixels) const;

 private:
  void fix();

  Size m_area;
  double m_default_unit_pixels = 1;
  bool m_fixed = false;
  float m_left = 0;
  float m_top = 0;
  float m_width = 0;
  float m_height = 0;
};

// The four scale properties of whatever has a user scale (a form's client area, a surface), under the
// names the windows use.
class UserScaled {
 public:
  float ScaleLeft() const { return m_scale.left(); }
  float ScaleTop() const { return m_scale.top(); }
  float ScaleWidth() const { return m_scale.width(); }
  float ScaleHeight() const { return m_scale.height(); }
  void ScaleLeft(float value) { m_scale.set_left(value); }
  void ScaleTop(float value) { m_scale.set_top(value); }
  void ScaleWidth(float value) { m_scale.set_width(value); }
  void ScaleHeight(float value) { m_scale.set_height(value); }
  const UserScale& scale() const { return m_scale; }

 protected:
  UserScale m_scale;
};

}  // namespace forms
