// Blending a glyph mask into a frame, shared by the text renderers of every platform.
#pragma once

#include <cstddef>
#include <cstdint>

#include "graphics/frame_buffer.h"

namespace forms {

// Blends `color` into the frame through an 8-bit coverage mask whose top-left lies at (x, y), touching
// only pixels the mask covers, inside `clip`. Returns the rectangle it may have changed.
Rect blend_coverage(FrameBuffer& frame, int x, int y, const std::uint8_t* mask, int mask_width, int mask_height,
                    std::ptrdiff_t mask_stride, Pixel color, const Rect& clip);

}  // namespace forms
