#include "graphics/dirty_region.h"

#include <algorithm>

namespace forms {
namespace {

// Intervals [a.left, a.right) and [b.left, b.right) overlap or lie within `gap` pixels of each other.
bool near_in_x(const Rect& a, const Rect& b, int gap) { return a.left <= b.right + gap && b.left <= a.right + gap; }

Rect hull(const Rect& a, const Rect& b) {
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

}  // namespace

void DirtyRegion::resize(Size frame) {
  m_frame = frame;
  const int rows = std::max(frame.height, 0) / 128;
  m_band_shift = 3;
  while (m_band_shift < 6 && (2 << m_band_shift) <= rows) ++m_band_shift;
  const std::size_t bands = static_cast<std::size_t>(std::max(frame.height, 1) + band_rows() - 1) >> m_band_shift;
  m_bands.assign(bands, Band{});
  m_touched.clear();
  m_touched.reserve(bands);
  m_rects.clear();
  m_rects.reserve(std::max(m_max_rects, bands * kSlots) + 1);
  m_stale = false;
}

void DirtyRegion::clear() {
  for (int band : m_touched) m_bands[static_cast<std::size_t>(band)].count = 0;
  m_touched.clear();
  m_rects.clear();
  m_stale = false;
}

void DirtyRegion::add(const Rect& rect) {
  const Rect r = intersect(rect, {0, 0, m_frame.width, m_frame.height});
  if (r.empty()) return;
  const int first = r.top >> m_band_shift;
  const int last = (r.bottom - 1) >> m_band_shift;
  for (int band = first; band <= last; ++band) {
    const int top = std::max(r.top, band << m_band_shift);
    const int bottom = std::min(r.bottom, (band + 1) << m_band_shift);
    add_to_band(band, {r.left, top, r.right, bottom});
  }
  m_stale = true;
}

void DirtyRegion::add_to_band(int index, const Rect& rect) {
  Band& band = m_bands[static_cast<std::size_t>(index)];
  if (band.count == 0) m_touched.push_back(index);
  for (int i = 0; i < band.count; ++i) {
    if (near_in_x(band.slots[i], rect, kMergeGap)) {
      band.slots[i] = hull(band.slots[i], rect);
      absorb_overlaps(band, i);
      return;
    }
  }
  if (band.count < kSlots) {
    band.slots[band.count++] = rect;
    return;
  }
  // Full: widen the slot that grows least.
  int best = 0;
  long long best_growth = -1;
  for (int i = 0; i < kSlots; ++i) {
    const long long growth = hull(band.slots[i], rect).area() - band.slots[i].area();
    if (best_growth < 0 || growth < best_growth) {
      best = i;
      best_growth = growth;
    }
  }
  band.slots[best] = hull(band.slots[best], rect);
  absorb_overlaps(band, best);
}

// A slot that grew may now reach others of its band; they become one.
void DirtyRegion::absorb_overlaps(Band& band, int slot) {
  for (int i = 0; i < band.count;) {
    if (i != slot && near_in_x(band.slots[i], band.slots[slot], kMergeGap)) {
      band.slots[slot] = hull(band.slots[slot], band.slots[i]);
      band.slots[i] = band.slots[--band.count];
      if (slot == band.count) slot = i;
      i = 0;
    } else {
      ++i;
    }
  }
}

std::span<const Rect> DirtyRegion::rects() const {
  if (m_stale) {
    build(false);
    if (m_rects.size() > m_max_rects) build(true);
    if (m_rects.size() > m_max_rects) {
      Rect all;
      for (const Rect& r : m_rects) all = unite(all, r);
      m_rects.assign(1, all);
    }
    m_stale = false;
  }
  return m_rects;
}

// Lists the slots band by band, top to bottom, continuing a rectangle of the band above when a slot has
// exactly its columns and starts where it ends (a vertical stroke stays one rectangle).
void DirtyRegion::build(bool one_per_band) const {
  m_rects.clear();
  std::sort(m_touched.begin(), m_touched.end());
  std::array<std::size_t, kSlots> open{};  // rectangles reaching the bottom of the band above
  int open_count = 0;
  for (int index : m_touched) {
    const Band& band = m_bands[static_cast<std::size_t>(index)];
    std::array<Rect, kSlots> slots = band.slots;
    int count = band.count;
    if (one_per_band) {
      for (int i = 1; i < count; ++i) slots[0] = hull(slots[0], slots[static_cast<std::size_t>(i)]);
      count = 1;
    }
    std::array<std::size_t, kSlots> now{};
    for (int i = 0; i < count; ++i) {
      const Rect& s = slots[static_cast<std::size_t>(i)];
      std::size_t at = m_rects.size();
      for (int k = 0; k < open_count; ++k) {
        const Rect& r = m_rects[open[static_cast<std::size_t>(k)]];
        if (r.left == s.left && r.right == s.right && r.bottom == s.top) at = open[static_cast<std::size_t>(k)];
      }
      if (at == m_rects.size()) {
        m_rects.push_back(s);
      } else {
        m_rects[at].bottom = s.bottom;
      }
      now[static_cast<std::size_t>(i)] = at;
    }
    open = now;
    open_count = count;
  }
}

}  // namespace forms
