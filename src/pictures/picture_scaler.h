// A whole picture scaled into a rectangle of a frame and composited over the frame's pixels, one row part
// at a time. A destination pixel belongs to the rectangle when its centre lies inside it.
//
// Resampling is separable: each source row is scaled across once (kept while rows below still need it),
// then the rows are combined down. The weights of each axis are worked out once, in 14-bit fixed point:
// bilinear where a side is enlarged, the area average of the source pixels under the destination pixel
// where it is shrunk. After that everything is integer arithmetic, so every platform gets the same pixels.
// The source is premultiplied ARGB composited over the frame; an opaque picture simply replaces.
#pragma once

#include <cstdint>
#include <vector>

#include "pictures/picture.h"
#include "values/color.h"
#include "values/geometry.h"

namespace forms {

class PictureScaler {
 public:
  // (x0, y0)-(x1, y1): the rectangle in device pixels; x1 < x0 or y1 < y0 mirrors the picture on that
  // axis. Only the part inside a frame of `frame` pixels is ever drawn.
  PictureScaler(PictureRef picture, double x0, double y0, double x1, double y1, Size frame);

  // The frame pixels the picture covers; empty when none (also for a degenerate or absurd rectangle).
  const Rect& area() const { return m_area; }
  bool opaque() const { return m_picture->opaque(); }
  // Composites the scaled picture over row[x0, x1), part of frame row y, all inside area().
  void composite(Pixel* row, int y, int x0, int x1);

 private:
  // Destination pixel k of an axis takes `count[k]` source pixels from `first[k]`, with the weights at
  // weight[offset[k]...], which sum to kOne.
  struct Axis {
    std::vector<int> first;
    std::vector<int> count;
    std::vector<int> offset;
    std::vector<std::uint16_t> weight;
    int max_count = 1;
  };
  static constexpr int kShift = 14;
  static constexpr int kOne = 1 << kShift;

  static Axis make_axis(int dest_first, int dest_count, double d0, double d1, bool mirrored, int source);
  const std::uint16_t* scaled_row(int source_row);
  void mix_rows(std::size_t j, std::size_t begin, std::size_t end);

  PictureRef m_picture;
  Rect m_area;
  Axis m_x;
  Axis m_y;
  // Source rows scaled across (4 channels of 16 bits each, 8 fraction bits), a few at a time.
  std::vector<std::uint16_t> m_rows;
  std::vector<int> m_row_of_slot;
  std::vector<std::uint32_t> m_sum;
  std::vector<std::uint8_t> m_mixed;  // one row part, in the frame's byte order
  // When enlarging across: each destination pixel's first weight in 8 fraction bits, and a source row's
  // pixels with their channels in 16-bit lanes.
  std::vector<std::uint16_t> m_x_pairs;
  std::vector<std::uint64_t> m_spread;
};

}  // namespace forms
