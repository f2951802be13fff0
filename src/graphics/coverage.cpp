#include <algorithm>

#include "graphics/coverage.h"

namespace forms {

Rect blend_coverage(FrameBuffer& frame, int x, int y, const std::uint8_t* mask, int mask_width, int mask_height,
                    std::ptrdiff_t mask_stride, Pixel color, const Rect& clip) {
  const Rect area =
      intersect(intersect({x, y, x + mask_width, y + mask_height}, clip), {0, 0, frame.width(), frame.height()});
  if (area.empty()) return {};
  const unsigned cr = (color >> 16) & 0xFF;
  const unsigned cg = (color >> 8) & 0xFF;
  const unsigned cb = color & 0xFF;
  for (int py = area.top; py < area.bottom; ++py) {
    const std::uint8_t* m = mask + (py - y) * mask_stride;
    Pixel* row = frame.row(py);
    for (int px = area.left; px < area.right; ++px) {
      const unsigned a = m[px - x];
      if (a == 0) continue;
      const Pixel d = row[px];
      const auto mix = [a](unsigned src, unsigned dst) { return (src * a + dst * (255 - a) + 127) / 255; };
      row[px] = (mix(cr, (d >> 16) & 0xFF) << 16) | (mix(cg, (d >> 8) & 0xFF) << 8) | mix(cb, d & 0xFF);
    }
  }
  return area;
}

}  // namespace forms
