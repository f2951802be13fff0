#include "graphics/raster.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "values/numeric.h"

namespace forms::raster {
namespace {

// A figure built from tamed positions, radii and pen widths reaches at most 3 * kFarPixels, which kIntFar
// keeps exact and inside an int.
constexpr double kFar = kFarPixels;
constexpr double kIntFar = 1e8;
constexpr int kNoGuess = std::numeric_limits<int>::min();

// floor and ceil by truncation: exact, and without a library call on machines that lack a rounding
// instruction.
int floor_int(double v) {
  v = std::clamp(v, -kIntFar, kIntFar);
  const int i = static_cast<int>(v);
  return i - (v < i ? 1 : 0);
}

int ceil_int(double v) {
  v = std::clamp(v, -kIntFar, kIntFar);
  const int i = static_cast<int>(v);
  return i + (v > i ? 1 : 0);
}

double half_width(int width) { return std::clamp(width, 1, static_cast<int>(2 * kFar)) / 2.0; }

// Moves lo and hi so that they are the first and last x of the row for which inside(x) holds, starting
// from an estimate that is off by at most a step or two (sqrt rounding).
template <class Inside>
bool settle(int& lo, int& hi, Inside&& inside) {
  while (inside(lo - 1)) --lo;
  while (lo <= hi && !inside(lo)) ++lo;
  while (inside(hi + 1)) ++hi;
  while (hi >= lo && !inside(hi)) --hi;
  return lo <= hi;
}

// The pixels of row y whose squared distance from the centre is at most r2. A snapped centre lies on a
// whole or half pixel, so the row's pixels lie symmetrically about it: the right edge is found, and the
// left one is its mirror image. `guess` may be the right edge of the row above: mostly this row's edge is
// there or a pixel off, and a step from it is quicker than a square root. Either way the edge is exact.
bool disc_row(Point c, double r2, double dy2, int& lo, int& hi, int guess = kNoGuess) {
  if (dy2 > r2) return false;
  const auto inside = [&](int x) {
    const double dx = x - c.x;
    return dx * dx + dy2 <= r2;
  };
  bool found = false;
  if (guess != kNoGuess && guess >= c.x) {
    const bool here = inside(guess);
    const bool next = inside(guess + 1);
    if (here && !next) {
      hi = guess, found = true;
    } else if (next && !inside(guess + 2)) {
      hi = guess + 1, found = true;
    } else if (!here && guess - 1 >= c.x && inside(guess - 1)) {
      hi = guess - 1, found = true;
    }
  }
  if (!found) {
    hi = floor_int(c.x + std::sqrt(r2 - dy2));
    while (inside(hi + 1)) ++hi;
    while (hi >= c.x && !inside(hi)) --hi;
  }
  const double twice = 2 * c.x;
  lo = static_cast<int>(twice) - hi;
  if (twice != static_cast<int>(twice)) {  // not a snapped centre: find the left edge as well
    lo = ceil_int(c.x - std::sqrt(r2 - dy2));
    settle(lo, hi, inside);
  }
  return lo <= hi;
}

}  // namespace

void difference_of_rows(const RowSpans& a, const RowSpans& b, RowSpans& out) {
  // Each figure's spans are disjoint, so a pixel is in exactly one figure where an odd number of span
  // edges lie at or left of it: walk the merged edges, keeping the odd stretches.
  int edges[16];
  int n = 0;
  for (const RowSpans* r : {&a, &b}) {
    for (int k = 0; k < r->count; ++k) {
      const Span& s = r->spans[static_cast<std::size_t>(k)];
      if (s.x0 >= s.x1) continue;
      edges[n++] = s.x0;
      edges[n++] = s.x1;
    }
  }
  for (int i = 1; i < n; ++i) {  // a handful of edges: insertion sort
    const int e = edges[i];
    int j = i;
    for (; j > 0 && edges[j - 1] > e; --j) edges[j] = edges[j - 1];
    edges[j] = e;
  }
  int count = 0;
  for (int i = 0; i + 1 < n; i += 2) {
    if (edges[i] == edges[i + 1]) continue;
    if (count > 0 && out.spans[static_cast<std::size_t>(count - 1)].x1 == edges[i]) {
      out.spans[static_cast<std::size_t>(count - 1)].x1 = edges[i + 1];
    } else if (count < static_cast<int>(out.spans.size())) {
      out.spans[static_cast<std::size_t>(count++)] = {edges[i], edges[i + 1]};
    }
  }
  out.count = count;
}

int clip_spans(const RowSpans& spans, int x0, int x1, Span* out) {
  int n = 0;
  for (int k = 0; k < spans.count; ++k) {
    const Span& s = spans.spans[static_cast<std::size_t>(k)];
    const int a = std::max(s.x0, x0);
    const int b = std::min(s.x1, x1 + 1);
    if (a < b) out[n++] = {a, b};
  }
  return n;
}

Point snap(double x, double y, int width) {
  const double bias = (std::max(width, 1) % 2 == 0) ? 0.5 : 0.0;
  return {std::floor(tame(x)) + bias, std::floor(tame(y)) + bias};
}

// ---- Ring ----

Ring::Ring(Point center, double radius, int width) : m_c(center) {
  const double r = std::abs(tame(radius));
  const double h = half_width(width);
  const double inner = r - h;
  m_inner2 = inner > 0 ? inner * inner : -1;
  m_outer2 = (r + h) * (r + h);
  m_top = ceil_int(m_c.y - (r + h));
  m_bottom = floor_int(m_c.y + (r + h)) + 1;
}

RowSpans Ring::row(int y) const {
  RowSpans out;
  const double dy = y - m_c.y;
  const double dy2 = dy * dy;
  int lo = 0;
  int hi = 0;
  if (!disc_row(m_c, m_outer2, dy2, lo, hi)) return out;
  int hole_lo = 0;
  int hole_hi = 0;
  if (dy2 <= m_inner2 && disc_row(m_c, m_inner2, dy2, hole_lo, hole_hi)) {
    if (lo < hole_lo) out.spans[out.count++] = {lo, hole_lo};
    if (hole_hi < hi) out.spans[out.count++] = {hole_hi + 1, hi + 1};
    return out;
  }
  out.spans[out.count++] = {lo, hi + 1};
  return out;
}

int Ring::row_within(int y, int x0, int x1, Span* out, RingEdges* edges) const {
  if (y < m_top || y >= m_bottom) return 0;
  const double dy = y - m_c.y;
  const double dy2 = dy * dy;
  const double l = x0 - m_c.x;
  const double r = x1 - m_c.x;
  const double l2 = l * l + dy2;
  const double r2 = r * r + dy2;
  if (std::max(l2, r2) <= m_inner2) return 0;  // all in the hole
  const double near = (l <= 0 && r >= 0) ? dy2 : std::min(l2, r2);
  if (near > m_outer2) return 0;  // all outside
  const bool follows = edges != nullptr && edges->y == y - 1;
  // The outer edges matter only where an end of x0..x1 lies outside the outer circle.
  int lo = x0;
  int hi = x1;
  int outer_hi = kNoGuess;
  if (l2 > m_outer2 || r2 > m_outer2) {
    int outer_lo = 0;
    if (!disc_row(m_c, m_outer2, dy2, outer_lo, outer_hi, follows ? edges->outer : kNoGuess)) return 0;
    lo = std::max(lo, outer_lo);
    hi = std::min(hi, outer_hi);
  }
  int hole_lo = 0;
  int hole_hi = kNoGuess;
  const bool hole = dy2 <= m_inner2 && disc_row(m_c, m_inner2, dy2, hole_lo, hole_hi, follows ? edges->hole : kNoGuess);
  if (edges != nullptr) {
    // Field by field: a struct copied whole would read back these fresh stores as one wider load, which
    // store forwarding cannot serve.
    edges->y = y;
    edges->outer = outer_hi;
    edges->hole = hole_hi;
  }
  if (!hole) {
    out[0] = {lo, hi + 1};
    return lo <= hi ? 1 : 0;
  }
  int n = 0;
  if (lo < hole_lo) out[n++] = {lo, std::min(hole_lo, hi + 1)};
  if (hole_hi < hi) out[n++] = {std::max(hole_hi + 1, lo), hi + 1};
  return n;
}

// ---- Dot ----

Dot::Dot(Point center, int width) : m_c(center) {
  const double h = half_width(width);
  m_r2 = h * h;
  m_top = ceil_int(m_c.y - h);
  m_bottom = floor_int(m_c.y + h) + 1;
  m_left = ceil_int(m_c.x - h);
  m_right = floor_int(m_c.x + h);
}

RowSpans Dot::row(int y) const {
  RowSpans out;
  const double dy = y - m_c.y;
  int lo = 0;
  int hi = 0;
  if (disc_row(m_c, m_r2, dy * dy, lo, hi)) out.spans[out.count++] = {lo, hi + 1};
  return out;
}

// ---- Capsule ----

namespace {

constexpr std::int64_t kNoLo = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kNoHi = std::numeric_limits<std::int64_t>::min();

// floor(sqrt(v)) for 0 <= v < 2^52, exactly.
std::int64_t isqrt(std::int64_t v) {
  auto r = static_cast<std::int64_t>(std::sqrt(static_cast<double>(v)));
  while (r * r > v) --r;
  while ((r + 1) * (r + 1) <= v) ++r;
  return r;
}

std::int64_t doubled(double v) { return static_cast<std::int64_t>(2 * v); }  // v is whole or half

}  // namespace

std::int64_t Edge::at(int y) const { return floor_div(n0 + y * step, den); }

Capsule::Capsule(Point a, Point b, int width)
    : m_ax(doubled(a.x)),
      m_ay(doubled(a.y)),
      m_bx(doubled(b.x)),
      m_by(doubled(b.y)),
      m_w(std::clamp<std::int64_t>(width, 1, static_cast<std::int64_t>(2 * kFar))),
      m_row_lo(kNoHi),
      m_row_hi(kNoLo) {
  const std::int64_t dx = m_bx - m_ax;
  const std::int64_t dy = m_by - m_ay;
  const std::int64_t len2 = dx * dx + dy * dy;
  m_has_body = len2 > 0;
  if (m_has_body) {
    // Band: |cross| <= k, cross = (2x - ax) dy - (Y - ay) dx, turned so that x's factor is positive.
    const auto k = static_cast<std::int64_t>(static_cast<double>(m_w) * std::sqrt(static_cast<double>(len2)));
    if (dy != 0) {
      const std::int64_t s = dy > 0 ? 1 : -1;
      const std::int64_t g0 = s * (m_ay * dx - m_ax * dy);
      const std::int64_t gs = -2 * s * dx;
      m_lo[m_edges] = {k + g0, gs, 2 * s * dy};
      m_hi[m_edges++] = {k - g0, -gs, 2 * s * dy};
    } else {
      m_row_lo = m_ay - m_w;
      m_row_hi = m_ay + m_w;
    }
    // Slab: 0 <= dot <= len2, dot = (2x - ax) dx + (Y - ay) dy, turned likewise.
    if (dx != 0) {
      const std::int64_t t = dx > 0 ? 1 : -1;
      const std::int64_t h0 = t * (-m_ax * dx - m_ay * dy);
      const std::int64_t hs = 2 * t * dy;
      const std::int64_t g_lo = t > 0 ? 0 : -len2;
      const std::int64_t g_hi = t > 0 ? len2 : 0;
      m_lo[m_edges] = {h0 - g_lo, hs, 2 * t * dx};
      m_hi[m_edges++] = {g_hi - h0, -hs, 2 * t * dx};
    } else {
      m_row_lo = std::min(m_ay, m_by);
      m_row_hi = std::max(m_ay, m_by);
    }
  }
  m_top = static_cast<int>(-floor_div(m_w - std::min(m_ay, m_by), 2));
  m_bottom = static_cast<int>(floor_div(std::max(m_ay, m_by) + m_w, 2)) + 1;
  m_left = static_cast<int>(-floor_div(m_w - std::min(m_ax, m_bx), 2));
  m_right = static_cast<int>(floor_div(std::max(m_ax, m_bx) + m_w, 2));
}

// Widens [lo, hi] by row y's part of the two end discs.
void Capsule::add_caps(int y, std::int64_t& lo, std::int64_t& hi) const {
  const std::int64_t w2 = m_w * m_w;
  for (const auto& [ex, ey] : {std::pair{m_ax, m_ay}, std::pair{m_bx, m_by}}) {
    const std::int64_t e = 2 * static_cast<std::int64_t>(y) - ey;
    if (e < -m_w || e > m_w) continue;
    const std::int64_t s = isqrt(w2 - e * e);
    lo = std::min(lo, -floor_div(s - ex, 2));
    hi = std::max(hi, floor_div(ex + s, 2));
  }
}

void Capsule::span_into(std::int64_t lo, std::int64_t hi, RowSpans& out) const {
  lo = std::max<std::int64_t>(lo, m_left);
  hi = std::min<std::int64_t>(hi, m_right);
  out.spans[0] = {static_cast<int>(lo), static_cast<int>(hi) + 1};
  out.count = lo <= hi ? 1 : 0;
}

RowSpans Capsule::row(int y) const {
  RowSpans out;
  row_into(y, out);
  return out;
}

void Capsule::row_into(int y, RowSpans& out) const {
  std::int64_t lo = kNoLo;
  std::int64_t hi = kNoHi;
  const std::int64_t Y = 2 * static_cast<std::int64_t>(y);
  if (m_has_body && Y >= m_row_lo && Y <= m_row_hi) {
    std::int64_t body_lo = kNoHi;
    std::int64_t body_hi = kNoLo;
    for (int i = 0; i < m_edges; ++i) {
      body_lo = std::max(body_lo, -m_lo[static_cast<std::size_t>(i)].at(y));
      body_hi = std::min(body_hi, m_hi[static_cast<std::size_t>(i)].at(y));
    }
    if (body_lo <= body_hi) lo = body_lo, hi = body_hi;
  }
  add_caps(y, lo, hi);
  span_into(lo, hi, out);
}

Capsule::Middle Capsule::middle() const {
  if (!m_has_body || m_edges != 2) return {0, 0};
  // Rows more than half the pen from both ends meet no end disc, and there the band lies inside the slab
  // (a point of the band before an end is within w * |dx| / length <= w, doubled, of the end's row), so
  // its two edges alone bound the row. The other rows take the slab's edges and the discs as well.
  const int first = static_cast<int>(floor_div(std::min(m_ay, m_by) + m_w, 2)) + 1;
  const int end = static_cast<int>(-floor_div(m_w - std::max(m_ay, m_by), 2));
  return {first, std::max(first, end)};
}

void Capsule::rows(int y, int count, RowSpans* out) const {
  Walker walker(*this, y);
  for (int n = 0; n < count; ++n) {
    const Span span = walker.next();
    out[n].count = span.x0 < span.x1 ? 1 : 0;
    out[n].spans[0] = span;
  }
}

Capsule::Walker::Walker(const Capsule& capsule, int y)
    : m_capsule(&capsule), m_y(y), m_middle(capsule.middle()), m_left(capsule.m_left), m_right(capsule.m_right) {
  if (m_middle.first < m_middle.end) {
    // Set for the first row of the middle that the walk reaches.
    const int from = std::max(y, m_middle.first);
    m_lo = EdgeWalker(capsule.m_lo[0], from);
    m_hi = EdgeWalker(capsule.m_hi[0], from);
  }
}

Span Capsule::Walker::ends(int y) const {
  if (y < m_capsule->m_top || y >= m_capsule->m_bottom) return {0, 0};
  RowSpans row;
  m_capsule->row_into(y, row);
  return row.count > 0 ? row.spans[0] : Span{0, 0};
}

// ---- BoxOutline ----

BoxOutline::BoxOutline(Point a, Point b, int width) {
  const double h = half_width(width);
  const double x1 = std::min(a.x, b.x);
  const double x2 = std::max(a.x, b.x);
  const double y1 = std::min(a.y, b.y);
  const double y2 = std::max(a.y, b.y);
  m_outer_left = ceil_int(x1 - h);
  m_outer_right = floor_int(x2 + h);
  m_inner_left = floor_int(x1 + h) + 1;
  m_inner_right = ceil_int(x2 - h) - 1;
  m_top = ceil_int(y1 - h);
  m_bottom = floor_int(y2 + h) + 1;
  m_inner_top = floor_int(y1 + h) + 1;
  m_inner_bottom = ceil_int(y2 - h);
}

RowSpans BoxOutline::row(int y) const {
  RowSpans out;
  const bool in_hole_rows = y >= m_inner_top && y < m_inner_bottom && m_inner_left <= m_inner_right;
  if (!in_hole_rows) {
    out.spans[out.count++] = {m_outer_left, m_outer_right + 1};
    return out;
  }
  out.spans[out.count++] = {m_outer_left, m_inner_left};
  out.spans[out.count++] = {m_inner_right + 1, m_outer_right + 1};
  return out;
}

int BoxOutline::row_within(int y, int x0, int x1, Span* out) const {
  if (y < m_top || y >= m_bottom || x1 < m_outer_left || x0 > m_outer_right) return 0;
  if (y >= m_inner_top && y < m_inner_bottom && x0 >= m_inner_left && x1 <= m_inner_right) return 0;
  return clip_spans(row(y), x0, x1, out);
}

void Ring::rows(int y, int count, RowSpans* out) const {
  for (int i = 0; i < count; ++i) out[i] = row(y + i);
}

void Dot::rows(int y, int count, RowSpans* out) const {
  for (int i = 0; i < count; ++i) out[i] = row(y + i);
}

void BoxOutline::rows(int y, int count, RowSpans* out) const {
  for (int i = 0; i < count; ++i) out[i] = row(y + i);
}

}  // namespace forms::raster
