// A screen that keeps its own copy of a surface's image and can apply the not-XOR pen to that copy itself.
//
// A clock's tick erases each hand and draws it one step on with the not-XOR pen, which changes a few pixels
// at each edge of the hand on every row it crosses: a thousand rows of a 4K frame, each a cache line on a
// page of its own, all of them cold after a second's sleep. Drawing them into the frame is most of what a
// tick costs the program. Handing the same runs of pixels to a screen that flips its own copy leaves the
// frame alone; the surface then owes the frame those figures and draws them into it when its pixels are
// next read (an exposure, any other drawing), so the frame and the screen agree whenever the frame is shown.
#pragma once

#include <span>

#include "values/color.h"

namespace forms {

// Pixels [x0, x1) of row y of a frame.
struct RowRun {
  int y;
  int x0;
  int x1;
};

class ScreenPen {
 public:
  virtual ~ScreenPen() = default;
  // Applies the not-XOR pen in `color` to each run of the screen's copy: each channel becomes
  // 255 - (pen XOR pixel). The runs lie inside the frame and do not overlap; they come row by row from the
  // top, and a figure's may come in several calls.
  virtual void flip(Pixel color, std::span<const RowRun> runs) = 0;
};

}  // namespace forms
