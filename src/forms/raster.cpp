#include "forms/raster.h"

#include <algorithm>
#include <cmath>

namespace forms::raster {
namespace {

// Keeps absurd coordinates (a zero scale, a huge radius) inside what an int can index.
constexpr double kFar = 1e7;

double tame(double v) {
  if (std::isnan(v)) return 0;
  return std::clamp(v, -kFar, kFar);
}

int floor_int(double v) { return static_cast<int>(std::floor(tame(v))); }
int ceil_int(double v) { return static_cast<int>(std::ceil(tame(v))); }

double half_width(int width) { return std::max(width, 1) / 2.0; }

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

// The pixels of row y whose squared distance from the centre is at most r2.
bool disc_row(Point c, double r2, double dy2, int& lo, int& hi) {
  if (dy2 > r2) return false;
  const double half = std::sqrt(r2 - dy2);
  lo = ceil_int(c.x - half);
  hi = floor_int(c.x + half);
  return settle(lo, hi, [&](int x) {
    const double dx = x - c.x;
    return dx * dx + dy2 <= r2;
  });
}

}  // namespace

Point snap(double x, double y, int width) {
  const double bias = (std::max(width, 1) % 2 == 0) ? 0.5 : 0.0;
  return {std::floor(tame(x)) + bias, std::floor(tame(y)) + bias};
}

Ring::Ring(Point center, double radius, int width) : m_c(center) {
  const double r = std::min(std::abs(tame(radius)), kFar);
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

Dot::Dot(Point center, int width) : m_c(center) {
  const double h = half_width(width);
  m_r2 = h * h;
  m_top = ceil_int(m_c.y - h);
  m_bottom = floor_int(m_c.y + h) + 1;
}

RowSpans Dot::row(int y) const {
  RowSpans out;
  const double dy = y - m_c.y;
  int lo = 0;
  int hi = 0;
  if (disc_row(m_c, m_r2, dy * dy, lo, hi)) out.spans[out.count++] = {lo, hi + 1};
  return out;
}

Capsule::Capsule(Point a, Point b, int width)
    : m_a(a), m_b(b), m_h(half_width(width)), m_h2(m_h * m_h), m_dx(b.x - a.x), m_dy(b.y - a.y),
      m_len2(m_dx * m_dx + m_dy * m_dy) {
  m_top = ceil_int(std::min(a.y, b.y) - m_h);
  m_bottom = floor_int(std::max(a.y, b.y) + m_h) + 1;
}

bool Capsule::inside(double x, double y) const {
  double t = 0;
  if (m_len2 > 0) t = std::clamp(((x - m_a.x) * m_dx + (y - m_a.y) * m_dy) / m_len2, 0.0, 1.0);
  const double ex = x - (m_a.x + t * m_dx);
  const double ey = y - (m_a.y + t * m_dy);
  return ex * ex + ey * ey <= m_h2;
}

RowSpans Capsule::row(int y) const {
  RowSpans out;
  double lo = HUGE_VAL;
  double hi = -HUGE_VAL;
  const auto take = [&](double l, double h) {
    if (l > h) return;
    lo = std::min(lo, l);
    hi = std::max(hi, h);
  };
  for (const Point& end : {m_a, m_b}) {
    const double ey = y - end.y;
    if (ey * ey <= m_h2) {
      const double s = std::sqrt(m_h2 - ey * ey);
      take(end.x - s, end.x + s);
    }
  }
  if (m_len2 > 0 && m_dy != 0) {
    // The band between the ends: perpendicular distance at most h, projection inside the segment.
    const double len = std::sqrt(m_len2);
    const double ry = y - m_a.y;
    double p0 = m_a.x + (ry * m_dx - m_h * len) / m_dy;
    double p1 = m_a.x + (ry * m_dx + m_h * len) / m_dy;
    if (p0 > p1) std::swap(p0, p1);
    if (m_dx != 0) {
      double t0 = m_a.x - ry * m_dy / m_dx;
      double t1 = m_a.x + (m_len2 - ry * m_dy) / m_dx;
      if (t0 > t1) std::swap(t0, t1);
      take(std::max(p0, t0), std::min(p1, t1));
    } else if (ry * m_dy >= 0 && ry * m_dy <= m_len2) {
      take(p0, p1);
    }
  } else if (m_len2 > 0 && std::abs(y - m_a.y) <= m_h) {
    take(std::min(m_a.x, m_b.x), std::max(m_a.x, m_b.x));
  }
  if (lo > hi) return out;
  int first = ceil_int(lo);
  int last = floor_int(hi);
  if (settle(first, last, [&](int x) { return inside(x, y); })) out.spans[out.count++] = {first, last + 1};
  return out;
}

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

}  // namespace forms::raster
