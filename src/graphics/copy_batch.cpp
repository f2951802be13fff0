#include "graphics/copy_batch.h"

#include <algorithm>
#include <limits>
#include <system_error>

#include "graphics/frame_buffer.h"

namespace forms {
namespace {

// Short runs are the rule here (a ring's sliver of a row): a plain loop beats a call with set-up.
void paint(Pixel* row, int x0, int x1, Pixel color) {
  for (int x = x0; x < x1; ++x) row[x] = color;
}

}  // namespace

void CopyBatch::resolve(FrameBuffer& frame, unsigned threads) {
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
  start(m_band);
  const long long pixels = static_cast<long long>(std::max(0, bottom - top)) * frame.width();
  const unsigned shares = pixels < kSharedPixels ? 1 : std::clamp(threads, 1u, 4u);
  // Band i holds rows [edge(i), edge(i + 1)); the calling thread resolves band 0.
  const long long rows = std::max(0, bottom - top);
  const auto edge = [&](unsigned i) { return top + static_cast<int>(rows * i / shares); };
  std::vector<Band> bands(shares - 1);
  std::vector<std::thread> helpers;
  helpers.reserve(bands.size());
  try {
    for (unsigned i = 1; i < shares; ++i) {
      Band& band = bands[i - 1];
      start(band);
      helpers.emplace_back(
          [this, &band, &frame, first = edge(i), last = edge(i + 1)] { resolve_rows(band, frame, first, last); });
    }
  } catch (const std::system_error&) {
    // No thread to be had: the bands left without one are resolved here, below.
  }
  resolve_rows(m_band, frame, edge(0), edge(1));
  for (auto i = static_cast<unsigned>(helpers.size()) + 1; i < shares; ++i) {
    start(m_band);
    resolve_rows(m_band, frame, edge(i), edge(i + 1));
  }
  for (std::thread& helper : helpers) helper.join();
  m_figures.clear();
  m_fill.reset();
  m_picture.reset();
  m_band.picture.reset();
}

// A band's state before its first row: no row resolved yet, and a scaler of its own.
void CopyBatch::start(Band& band) const {
  // A row holds at most two intervals per figure.
  band.covered.resize(2 * m_figures.size() + 2);
  band.covered_count = 0;
  band.edges.assign(m_figures.size(), raster::RingEdges{std::numeric_limits<int>::min(), 0, 0});
  band.picture = m_picture;
}

void CopyBatch::resolve_rows(Band& band, FrameBuffer& frame, int top, int bottom) const {
  for (int y = top; y < bottom; ++y) resolve_row(band, frame.row(y), y, frame.width());
}

void CopyBatch::add(const raster::Figure& figure, Pixel color) {
  const int index = static_cast<int>(m_figures.size());
  Entry entry{figure, color, index, -1, {}};
  if (const raster::Ring* ring = figure.ring()) {
    entry.hole2 = ring->hole2();
    entry.center = ring->center();
    // Rings round one centre, each with a hole at least as large as the last, form a run.
    if (index > 0) {
      const Entry& last = m_figures.back();
      if (last.hole2 >= 0 && last.center.x == entry.center.x && last.center.y == entry.center.y &&
          entry.hole2 >= last.hole2) {
        entry.run_start = last.run_start;
      }
    }
  }
  m_figures.push_back(entry);
}

void CopyBatch::resolve_row(Band& band, Pixel* row, int y, int width) const {
  band.covered_count = 0;
  const raster::Span* covered = band.covered.data();
  // Every pixel of the row not yet covered lies in [lo, hi].
  int lo = 0;
  int hi = width - 1;
  for (int i = static_cast<int>(m_figures.size()) - 1; i >= 0; --i) {
    const Entry& e = m_figures[static_cast<std::size_t>(i)];
    if (e.run_start < i) i = skip_hidden_rings(i, y, lo, hi);
    const Entry& f = m_figures[static_cast<std::size_t>(i)];
    raster::Span spans[2];
    const int count = f.figure.row_within(y, lo, hi, spans, &band.edges[static_cast<std::size_t>(i)]);
    if (count == 0) continue;
    for (int k = 0; k < count; ++k) cover(band, row, spans[k].x0, spans[k].x1, f.color);
    if (covered[0].x0 <= 0) lo = covered[0].x1;
    if (covered[band.covered_count - 1].x1 >= width) hi = covered[band.covered_count - 1].x0 - 1;
    if (lo > hi) return;
  }
  int x = 0;
  for (int k = 0; k < band.covered_count; ++k) {
    if (x < covered[k].x0) fill_bottom(band, row, y, x, covered[k].x0);
    x = covered[k].x1;
  }
  if (x < width) fill_bottom(band, row, y, x, width);
}

// Entry i lies in a run of rings with growing holes. When the uncovered part of row y lies in its hole,
// it lies in the holes of the rings before it down to the first with a smaller hole, and none of those
// can paint a pixel there: returns that first ring's index (i itself when i's hole does not hold it).
int CopyBatch::skip_hidden_rings(int i, int y, int lo, int hi) const {
  const Entry& e = m_figures[static_cast<std::size_t>(i)];
  const double dy = y - e.center.y;
  const double l = lo - e.center.x;
  const double r = hi - e.center.x;
  const double far2 = std::max(l * l, r * r) + dy * dy;
  if (far2 > e.hole2) return i;
  int first = e.run_start;  // the smallest index whose hole still holds far2 lies in [first, i]
  int last = i;
  while (first < last) {
    const int mid = first + (last - first) / 2;
    if (m_figures[static_cast<std::size_t>(mid)].hole2 >= far2) {
      last = mid;
    } else {
      first = mid + 1;
    }
  }
  return first;
}

// Writes the pixels of [x0, x1) that are not covered yet, then counts them covered. Mostly the new span
// meets one interval, which it widens.
void CopyBatch::cover(Band& band, Pixel* row, int x0, int x1, Pixel color) {
  raster::Span* c = band.covered.data();
  int& covered_count = band.covered_count;
  // The first interval ending at or after x0, by bisection: where a face's pattern leaves gaps, a row
  // holds many intervals.
  int i = 0;
  for (int n = covered_count; n > 0;) {
    const int half = n / 2;
    if (c[i + half].x1 < x0) {
      i += half + 1;
      n -= half + 1;
    } else {
      n = half;
    }
  }
  if (i == covered_count || c[i].x0 > x1) {
    paint(row, x0, x1, color);
    for (int k = covered_count; k > i; --k) c[k] = c[k - 1];
    c[i] = {x0, x1};
    ++covered_count;
    return;
  }
  if (x0 < c[i].x0) {
    paint(row, x0, c[i].x0, color);
    c[i].x0 = x0;
  }
  if (x1 <= c[i].x1) return;
  // It reaches past interval i: fill the gaps up to x1, taking in the intervals it meets.
  int j = i + 1;
  int at = c[i].x1;
  for (; j < covered_count && c[j].x0 <= x1; ++j) {
    paint(row, at, c[j].x0, color);
    at = c[j].x1;
  }
  paint(row, at, x1, color);
  c[i].x1 = std::max(at, x1);
  const int gone = j - i - 1;
  if (gone == 0) return;
  for (int k = j; k < covered_count; ++k) c[k - gone] = c[k];
  covered_count -= gone;
}

// The pixels of [x0, x1) that no figure covers: the fill, with the picture over it.
void CopyBatch::fill_bottom(Band& band, Pixel* row, int y, int x0, int x1) const {
  int p0 = x1;
  int p1 = x1;
  std::optional<PictureScaler>& picture = band.picture;
  if (picture) {
    const Rect& area = picture->area();
    if (y >= area.top && y < area.bottom) {
      p0 = std::clamp(area.left, x0, x1);
      p1 = std::clamp(area.right, p0, x1);
    }
  }
  if (m_fill) {
    std::fill(row + x0, row + p0, *m_fill);
    std::fill(row + p1, row + x1, *m_fill);
    if (!picture || !picture->opaque()) std::fill(row + p0, row + p1, *m_fill);
  }
  if (p0 < p1) picture->composite(row, y, p0, p1);
}

}  // namespace forms
