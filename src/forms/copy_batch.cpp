#include "forms/copy_batch.h"

#include <algorithm>

#include "forms/platform.h"

namespace forms {

void CopyBatch::resolve(FrameBuffer& frame) {
  const int width = frame.width();
  int top = frame.height();
  int bottom = 0;
  if (m_fill) {
    top = 0;
    bottom = frame.height();
  }
  if (m_picture && !m_picture->area().empty()) {
    top = std::min(top, m_picture->area().top);
    bottom = std::max(bottom, m_picture->area().bottom);
  }
  for (const Entry& e : m_figures) {
    top = std::min(top, e.figure.top());
    bottom = std::max(bottom, e.figure.bottom());
  }
  top = std::max(top, 0);
  bottom = std::min(bottom, frame.height());
  // A row can hold two intervals per figure and one between each pair.
  m_covered.reserve(2 * m_figures.size() + 2);
  for (int y = top; y < bottom; ++y) resolve_row(frame.row(y), y, width);
  m_figures.clear();
  m_fill.reset();
  m_picture.reset();
}

void CopyBatch::resolve_row(Pixel* row, int y, int width) {
  m_covered.clear();
  // Every pixel of the row not yet covered lies in [lo, hi].
  int lo = 0;
  int hi = width - 1;
  for (auto e = m_figures.rbegin(); e != m_figures.rend(); ++e) {
    if (e->figure.misses(y, lo, hi)) continue;
    const raster::RowSpans spans = e->figure.row(y);
    for (int k = 0; k < spans.count; ++k) {
      const int x0 = std::max(spans.spans[k].x0, lo);
      const int x1 = std::min(spans.spans[k].x1, hi + 1);
      if (x0 < x1) cover(row, x0, x1, e->color);
    }
    if (m_covered.empty()) continue;
    if (m_covered.front().x0 <= 0) lo = m_covered.front().x1;
    if (m_covered.back().x1 >= width) hi = m_covered.back().x0 - 1;
    if (lo > hi) return;
  }
  int x = 0;
  for (const raster::Span& c : m_covered) {
    if (x < c.x0) fill_bottom(row, y, x, c.x0);
    x = c.x1;
  }
  if (x < width) fill_bottom(row, y, x, width);
}

// Writes the pixels of [x0, x1) that are not covered yet, then counts them covered.
void CopyBatch::cover(Pixel* row, int x0, int x1, Pixel color) {
  auto first = m_covered.begin();
  while (first != m_covered.end() && first->x1 < x0) ++first;
  int at = x0;
  int merged0 = x0;
  int merged1 = x1;
  auto last = first;
  for (; last != m_covered.end() && last->x0 <= x1; ++last) {
    if (at < last->x0) std::fill(row + at, row + last->x0, color);
    at = std::max(at, last->x1);
    merged0 = std::min(merged0, last->x0);
    merged1 = std::max(merged1, last->x1);
  }
  if (at < x1) std::fill(row + at, row + x1, color);
  if (first == last) {
    m_covered.insert(first, {merged0, merged1});
    return;
  }
  *first = {merged0, merged1};
  m_covered.erase(first + 1, last);
}

// The pixels of [x0, x1) that no figure covers: the fill, with the picture over it.
void CopyBatch::fill_bottom(Pixel* row, int y, int x0, int x1) {
  int p0 = x1;
  int p1 = x1;
  if (m_picture) {
    const Rect& area = m_picture->area();
    if (y >= area.top && y < area.bottom) {
      p0 = std::clamp(area.left, x0, x1);
      p1 = std::clamp(area.right, p0, x1);
    }
  }
  if (m_fill) {
    std::fill(row + x0, row + p0, *m_fill);
    std::fill(row + p1, row + x1, *m_fill);
    if (!m_picture || !m_picture->opaque()) std::fill(row + p0, row + p1, *m_fill);
  }
  if (p0 < p1) m_picture->composite(row, y, p0, p1);
}

}  // namespace forms
