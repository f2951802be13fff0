// Pixel-exact rasterisation of the surface's figures into row spans, in device pixels.
//
// Coordinates are pixel indices: pixel (i, j) is the point (i, j). A figure's points are snapped to a
// pixel and, for an even pen width, moved half a pixel right and down, so a pen of width w covers exactly
// w pixels across a horizontal or vertical stroke. Each figure gives each row at most two spans that never
// overlap, so a figure touches a pixel at most once. Only +, -, *, / and sqrt are used, all correctly
// rounded, so the same figure gives the same pixels on every platform.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <variant>

#include "values/geometry.h"
#include "values/numeric.h"

namespace forms::raster {

struct Span {
  int x0;  // first pixel
  int x1;  // one past the last pixel
};

// Disjoint spans of one row, left to right: at most two from a figure, at most four from the
// difference of two figures.
struct RowSpans {
  std::array<Span, 4> spans{};
  int count = 0;
};

void difference_of_rows(const RowSpans& a, const RowSpans& b, RowSpans& out);

// Writes to out the pixels in exactly one of spans a and b (either may be empty), left to right, and
// returns how many spans that takes (at most two). For two spans the four edges in order are lo0,
// min(hi0, lo1), max(hi0, lo1), hi1, and the pixels in exactly one lie between the first two and between
// the last two.
inline int difference(Span a, Span b, Span* out) {
  if (a.x0 >= a.x1) {
    out[0] = b;
    return b.x0 < b.x1 ? 1 : 0;
  }
  if (b.x0 >= b.x1) {
    out[0] = a;
    return 1;
  }
  const int lo0 = a.x0 < b.x0 ? a.x0 : b.x0;
  const int hi0 = a.x0 < b.x0 ? b.x0 : a.x0;
  const int lo1 = a.x1 < b.x1 ? a.x1 : b.x1;
  const int hi1 = a.x1 < b.x1 ? b.x1 : a.x1;
  const int mid0 = hi0 < lo1 ? hi0 : lo1;
  const int mid1 = hi0 < lo1 ? lo1 : hi0;
  int n = 0;
  if (mid0 == mid1) {
    if (lo0 < hi1) out[n++] = {lo0, hi1};
  } else {
    if (lo0 < mid0) out[n++] = {lo0, mid0};
    if (mid1 < hi1) out[n++] = {mid1, hi1};
  }
  return n;
}

// Writes to out the pixels in exactly one of rows a and b. (out is written field by field: a RowSpans
// returned whole and copied would be read back as a block right after being written piecewise, which
// stalls store forwarding.)
inline void difference(const RowSpans& a, const RowSpans& b, RowSpans& out) {
  if (a.count != 1 || b.count != 1) {
    difference_of_rows(a, b, out);
    return;
  }
  out.count = difference(a.spans[0], b.spans[0], out.spans.data());
}

struct Point {
  double x;
  double y;
  friend bool operator==(const Point&, const Point&) = default;
};

// Snaps a fractional device position to the figure grid of a pen `width` pixels wide.
Point snap(double x, double y, int width);

// Writes row y's spans cut to x0..x1 inclusive to out; returns how many.
int clip_spans(const RowSpans& spans, int x0, int x1, Span* out);

// Every figure also answers row_within(y, x0, x1, out): row(y) cut to x0..x1 inclusive, written to out (at
// most two spans; the count is returned), skipping what work it can when the figure does not reach that
// part of the row. A batch asks it for the part of a row that later figures have not painted over yet,
// which is often small. (Spans are written one by one rather than returned as a whole: reading back a
// freshly written RowSpans as a block stalls the processor's store forwarding, on every row.)

// The right edges of a ring's outer circle and hole on row y (INT_MIN where not worked out), kept by a
// caller going down the rows so that the next row can start from them.
struct RingEdges {
  int y;
  int outer;
  int hole;
};

// The outline of a circle: pixels whose distance d from the centre has r - w/2 < d <= r + w/2.
class Ring {
 public:
  Ring(Point center, double radius, int width);
  int top() const { return m_top; }
  int bottom() const { return m_bottom; }  // one past the last row
  RowSpans row(int y) const;
  void rows(int y, int count, RowSpans* out) const;  // rows y to y + count - 1
  int row_within(int y, int x0, int x1, Span* out, RingEdges* edges = nullptr) const;
  Point center() const { return m_c; }
  // The hole's squared radius: pixels at that squared distance or less are not the ring's. Negative for
  // a disc.
  double hole2() const { return m_inner2; }

  friend bool operator==(const Ring&, const Ring&) = default;

 private:
  Point m_c;
  double m_inner2;  // negative when the ring is a disc
  double m_outer2;
  int m_top;
  int m_bottom;
};

// A round dot of diameter `width`: pixels within width/2 of the centre.
class Dot {
 public:
  Dot(Point center, int width);
  int top() const { return m_top; }
  int bottom() const { return m_bottom; }
  RowSpans row(int y) const;
  void rows(int y, int count, RowSpans* out) const;  // rows y to y + count - 1
  int row_within(int y, int x0, int x1, Span* out) const {
    if (y < m_top || y >= m_bottom || x1 < m_left || x0 > m_right) return 0;
    return clip_spans(row(y), x0, x1, out);
  }

  friend bool operator==(const Dot&, const Dot&) = default;

 private:
  Point m_c;
  double m_r2;
  int m_top;
  int m_bottom;
  int m_left;
  int m_right;
};

// floor((n0 + y * step) / den) for den > 0: one edge of a figure's rows, as a function of the row.
struct Edge {
  std::int64_t n0 = 0;
  std::int64_t step = 0;
  std::int64_t den = 1;
  std::int64_t at(int y) const;
  friend bool operator==(const Edge&, const Edge&) = default;
};

// Steps an Edge from row to row: the quotient and remainder of its numerator move by fixed amounts.
class EdgeWalker {
 public:
  EdgeWalker() = default;
  EdgeWalker(const Edge& e, int y) : m_den(e.den) {
    const std::int64_t n = e.n0 + y * e.step;
    m_q = floor_div(n, m_den);
    m_r = n - m_q * m_den;
    m_dq = floor_div(e.step, m_den);
    m_dr = e.step - m_dq * m_den;
  }
  std::int64_t value() const { return m_q; }
  // Without a branch: whether the remainder carries follows the slope's digits, which a branch
  // predictor cannot learn.
  void next() {
    m_r += m_dr;
    const std::int64_t carry = m_r >= m_den ? 1 : 0;
    m_q += m_dq + carry;
    m_r -= m_den & -carry;
  }

 private:
  std::int64_t m_den = 1, m_q = 0, m_r = 0, m_dq = 0, m_dr = 0;
};

// A line with round ends: the pixels within width/2 of the segment. Worked out exactly in integers on a
// grid of half pixels (where snapped points lie on whole numbers): the body is the pixels p with
// |cross(p - a, b - a)| <= floor(width * |b - a|), all doubled (that is, within width/2 of the segment's
// line), whose projection lies between the ends; each end adds its disc. Each of the body's
// four edges moves by a fixed fraction per row, so rows() steps them with an addition and a compare,
// while row(y) divides; being exact, both give the same spans.
class Capsule {
 public:
  Capsule(Point a, Point b, int width);
  int top() const { return m_top; }
  int bottom() const { return m_bottom; }
  RowSpans row(int y) const;
  void rows(int y, int count, RowSpans* out) const;  // rows y to y + count - 1
  int row_within(int y, int x0, int x1, Span* out) const {
    if (y < m_top || y >= m_bottom || x1 < m_left || x0 > m_right) return 0;
    return clip_spans(row(y), x0, x1, out);
  }

  friend bool operator==(const Capsule&, const Capsule&) = default;

  class Walker;

 private:
  // The rows [first, end) more than half the pen from both ends, where the band's two edges alone bound
  // the row; empty for a capsule without a body or with a horizontal or vertical band.
  struct Middle {
    int first;
    int end;
  };
  Middle middle() const;
  void add_caps(int y, std::int64_t& lo, std::int64_t& hi) const;
  void row_into(int y, RowSpans& out) const;
  void span_into(std::int64_t lo, std::int64_t hi, RowSpans& out) const;

  // Doubled coordinates of the ends, and the doubled pen width.
  std::int64_t m_ax, m_ay, m_bx, m_by;
  std::int64_t m_w;
  bool m_has_body;
  // Where the body's rows are bounded by rows rather than by edges (horizontal or vertical segments):
  // the body holds doubled rows Y with m_row_lo <= Y <= m_row_hi.
  std::int64_t m_row_lo, m_row_hi;
  // The body's pixels have x >= -m_lo[i].at(y) and x <= m_hi[i].at(y) for each bounding strip: the band
  // along the segment and the slab between the ends, less one that does not bound x.
  std::array<Edge, 2> m_lo;
  std::array<Edge, 2> m_hi;
  int m_edges = 0;
  int m_top;
  int m_bottom;
  int m_left;
  int m_right;
};

// A capsule's spans row after row, from a given row down, the same as rows() gives: in the middle a step
// is two additions, so a line can be walked alongside another without buffers. Rows outside the capsule
// are empty.
class Capsule::Walker {
 public:
  Walker(const Capsule& capsule, int y);
  // This row's span (empty when x1 <= x0); the walker moves on to the next row.
  Span next() {
    const int y = m_y;
    if (y >= m_middle.first && y < m_middle.end) return step();
    ++m_y;
    return ends(y);
  }
  // The row after the middle rows that follow on from here, where next() takes the band's two edges
  // alone; this row itself when it is not in the middle.
  int middle_end() const { return m_y >= m_middle.first && m_y < m_middle.end ? m_middle.end : m_y; }
  // next() for a row before middle_end().
  Span step() {
    ++m_y;
    const std::int64_t first = -m_lo.value() > m_left ? -m_lo.value() : m_left;
    const std::int64_t last = m_hi.value() < m_right ? m_hi.value() : m_right;
    m_lo.next();
    m_hi.next();
    return {static_cast<int>(first), static_cast<int>(last) + 1};
  }

 private:
  Span ends(int y) const;

  const Capsule* m_capsule;
  int m_y;
  Middle m_middle;
  std::int64_t m_left;
  std::int64_t m_right;
  EdgeWalker m_lo;
  EdgeWalker m_hi;
};

// Two capsules (a line and its next step) walked side by side from a given row down: each row gives the
// runs of the pixels in exactly one of them.
class DifferenceWalker {
 public:
  DifferenceWalker(const Capsule& a, const Capsule& b, int y) : m_a(a, y), m_b(b, y) {}
  // Writes this row's runs (at most two) to out and returns how many; the walk moves on to the next row.
  int next(Span* out) { return difference(m_a.next(), m_b.next(), out); }
  // The row after those that follow on from here, up to `end`, in which both lines are in their middle.
  int middle_end(int end) const { return std::min({m_a.middle_end(), m_b.middle_end(), end}); }
  // Walks rows y to end - 1, all in both middles (end no later than middle_end), calling
  // emit(y, runs, n) for each. The walkers are copied out for the loop, so that their edges stay in
  // registers instead of being stored and loaded again at every row.
  template <class Emit>
  void walk_middles(int y, int end, Emit&& emit) {
    Capsule::Walker a = m_a;
    Capsule::Walker b = m_b;
    Span runs[2];
    for (; y < end; ++y) emit(y, runs, difference(a.step(), b.step(), runs));
    m_a = a;
    m_b = b;
  }

 private:
  Capsule::Walker m_a;
  Capsule::Walker m_b;
};

// Calls sink(y, x0, x1) for each run of the pixels in exactly one of two capsules, row by row from the
// top, cut to `clip`: worked out in one pass, with no rows held between the walk and the sink.
template <class Sink>
void for_each_difference_run(const Capsule& a, const Capsule& b, const Rect& clip, Sink&& sink) {
  const int top = std::max(std::min(a.top(), b.top()), clip.top);
  const int bottom = std::min(std::max(a.bottom(), b.bottom()), clip.bottom);
  DifferenceWalker walk(a, b, top);
  const auto emit = [&](int y, const Span* runs, int n) {
    for (int k = 0; k < n; ++k) {
      const int x0 = std::max(runs[k].x0, clip.left);
      const int x1 = std::min(runs[k].x1, clip.right);
      if (x0 < x1) sink(y, x0, x1);
    }
  };
  Span runs[2];
  for (int y = top; y < bottom;) {
    const int end = walk.middle_end(bottom);
    if (end > y) {
      walk.walk_middles(y, end, emit);
      y = end;
    } else {
      emit(y, runs, walk.next(runs));
      ++y;
    }
  }
}

// The outline of an axis-parallel rectangle drawn with a pen `width` wide centred on its edges; square
// corners.
class BoxOutline {
 public:
  BoxOutline(Point a, Point b, int width);
  int top() const { return m_top; }
  int bottom() const { return m_bottom; }
  RowSpans row(int y) const;
  void rows(int y, int count, RowSpans* out) const;  // rows y to y + count - 1
  int row_within(int y, int x0, int x1, Span* out) const;

  friend bool operator==(const BoxOutline&, const BoxOutline&) = default;

 private:
  int m_outer_left, m_outer_right;  // inclusive pixel ranges
  int m_inner_left, m_inner_right;  // the hole, inclusive; empty when left > right
  int m_top, m_bottom;              // rows of the outer rectangle, bottom exclusive
  int m_inner_top, m_inner_bottom;  // rows of the hole, bottom exclusive
};

// Any one of the figures, held by value, so that a run of them can be stored and walked row by row.
class Figure {
 public:
  template <class Shape>
  explicit Figure(const Shape& shape) : m_shape(shape) {}

  int top() const {
    return std::visit([](const auto& s) { return s.top(); }, m_shape);
  }
  int bottom() const {
    return std::visit([](const auto& s) { return s.bottom(); }, m_shape);
  }
  void rows(int y, int count, RowSpans* out) const {
    std::visit([=](const auto& s) { s.rows(y, count, out); }, m_shape);
  }
  // For a ring, `edges` (when given) carries its edges from one row to the next.
  int row_within(int y, int x0, int x1, Span* out, RingEdges* edges = nullptr) const {
    if (const Ring* ring = std::get_if<Ring>(&m_shape)) return ring->row_within(y, x0, x1, out, edges);
    return std::visit([=](const auto& s) { return s.row_within(y, x0, x1, out); }, m_shape);
  }
  const Ring* ring() const { return std::get_if<Ring>(&m_shape); }
  const Capsule* capsule() const { return std::get_if<Capsule>(&m_shape); }
  friend bool operator==(const Figure&, const Figure&) = default;
  // Calls fn with the shape itself, for loops that should not dispatch on every row.
  template <class Fn>
  decltype(auto) visit(Fn&& fn) const {
    return std::visit(static_cast<Fn&&>(fn), m_shape);
  }

 private:
  std::variant<Ring, Dot, Capsule, BoxOutline> m_shape;
};

// Calls sink(y, k, x0, x1) for every span inside `clip` of rows top to bottom - 1, in order; k is the
// span's index in its row. rows(y, n, out) works out rows y to y + n - 1. The rows are worked out a chunk
// ahead of the sink, and before(y, x0, x1) hears of each span then, so that a caller can prefetch the
// pixels while the chunk before is drawn.
namespace detail {

// Clips the spans of rows y0 to y0 + n - 1 to the clip's columns and tells before() of each one left.
template <class Before>
void clip_rows(RowSpans* chunk, int y0, int n, const Rect& clip, Before& before) {
  for (int i = 0; i < n; ++i) {
    for (int k = 0; k < chunk[i].count; ++k) {
      Span& s = chunk[i].spans[static_cast<std::size_t>(k)];
      s.x0 = s.x0 > clip.left ? s.x0 : clip.left;
      s.x1 = s.x1 < clip.right ? s.x1 : clip.right;
      if (s.x0 < s.x1) before(y0 + i, s.x0, s.x1);
    }
  }
}

template <class Sink>
void emit_rows(const RowSpans* chunk, int y0, int n, Sink& sink) {
  for (int i = 0; i < n; ++i) {
    for (int k = 0; k < chunk[i].count; ++k) {
      const Span& s = chunk[i].spans[static_cast<std::size_t>(k)];
      if (s.x0 < s.x1) sink(y0 + i, k, s.x0, s.x1);
    }
  }
}

}  // namespace detail

template <class Rows, class Before, class Sink>
void for_each_span(int top, int bottom, const Rect& clip, Rows&& rows, Before&& before, Sink&& sink) {
  constexpr int kChunk = 16;
  top = top > clip.top ? top : clip.top;
  bottom = bottom < clip.bottom ? bottom : clip.bottom;
  RowSpans chunks[2][kChunk];
  const auto work_out = [&](int y0, RowSpans* chunk) {
    const int n = bottom - y0 < kChunk ? bottom - y0 : kChunk;
    rows(y0, n, chunk);
    detail::clip_rows(chunk, y0, n, clip, before);
    return n;
  };
  int n = top < bottom ? work_out(top, chunks[0]) : 0;
  for (int y0 = top, c = 0; y0 < bottom; y0 += kChunk, c ^= 1) {
    const int next = y0 + kChunk < bottom ? work_out(y0 + kChunk, chunks[c ^ 1]) : 0;
    detail::emit_rows(chunks[c], y0, n, sink);
    n = next;
  }
}

// Rows y to y + n - 1 of `figure`, empty where the figure has no rows.
template <class Shape>
void rows_within(const Shape& figure, int y, int n, RowSpans* out) {
  const int first = figure.top() > y ? figure.top() : y;
  const int end = figure.bottom() < y + n ? figure.bottom() : y + n;
  for (int i = 0; i < n; ++i) out[i].count = 0;
  if (first < end) figure.rows(first, end - first, out + (first - y));
}

}  // namespace forms::raster
