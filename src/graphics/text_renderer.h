// Text into a frame: what a surface needs from whoever owns it to print. The glyphs come from the
// operating system's text engine (Pango on Linux, GDI on Windows); a surface only places them.
#pragma once

#include <string>
#include <string_view>

#include "graphics/frame_buffer.h"

namespace forms {

struct TextStyle {
  std::string face;
  double size_points = 8.25;
  bool bold = false;
};

class TextRenderer {
 public:
  virtual ~TextRenderer() = default;
  // Draws `text` with its top-left corner at (x, y), glyph pixels only, clipped to `clip`; returns the
  // rectangle it may have changed.
  virtual Rect draw_text(FrameBuffer& frame, int x, int y, std::string_view text, const TextStyle& style, double dpi,
                         Pixel color, const Rect& clip) = 0;
  virtual Size measure_text(std::string_view text, const TextStyle& style, double dpi) = 0;
};

}  // namespace forms
