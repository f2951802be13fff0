// The parts of a frame changed since they were last presented. Rows are grouped in bands (8 to 64 rows,
// about 128 bands a frame); each band keeps a few x-intervals with the rows they reach, so a thin
// diagonal stroke is reported as a staircase of small rectangles rather than as its bounding box.
//
// Invariant: every pixel passed to add() lies in some rectangle of rects() until clear(). Marking never
// allocates (the bands are made with the frame), so it is safe on the per-tick path.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "values/geometry.h"

namespace forms {

class DirtyRegion {
 public:
  explicit DirtyRegion(std::size_t max_rects) : m_max_rects(max_rects) {}

  // A new frame size; forgets what was marked.
  void resize(Size frame);
  void clear();
  // Marks the part of `rect` inside the frame.
  void add(const Rect& rect);
  bool empty() const { return m_touched.empty(); }
  // At most max_rects rectangles covering every marked pixel; coarser ones when finer would be more.
  std::span<const Rect> rects() const;
  int band_rows() const { return 1 << m_band_shift; }
  int band_shift() const { return m_band_shift; }

 private:
  static constexpr int kSlots = 4;
  // Intervals of one band closer than this many pixels are kept as one.
  static constexpr int kMergeGap = 8;
  struct Band {
    std::array<Rect, kSlots> slots;
    int count = 0;
  };

  void add_to_band(int index, const Rect& rect);
  void absorb_overlaps(Band& band, int slot);
  void build(bool one_per_band) const;

  std::size_t m_max_rects;
  Size m_frame;
  int m_band_shift = 4;
  std::vector<Band> m_bands;
  mutable std::vector<int> m_touched;  // bands with at least one slot (sorted when listed)
  mutable std::vector<Rect> m_rects;
  mutable bool m_stale = false;
};

}  // namespace forms
