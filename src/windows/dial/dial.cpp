#include "windows/dial/dial.h"

#include "forms/controls.h"

namespace saver {

void draw_hand(forms::PictureBox& surface, float cx, float cy, double angle, double length, int width, float& prev_x,
               float& prev_y) {
  const double theta = kRadiansPerDegree * angle;
  const auto x = static_cast<float>(length * std::cos(theta) + cx);
  const auto y = static_cast<float>(length * std::sin(theta) + cy);
  surface.DrawWidth = width;
  surface.DrawMode = forms::vbNotXorPen;
  if (prev_x != -1) surface.Line(cx, cy, prev_x, prev_y, kHandColor);
  surface.Line(cx, cy, x, y, kHandColor);
  prev_x = x;
  prev_y = y;
}

}  // namespace saver
