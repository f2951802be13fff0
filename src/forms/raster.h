// Pixel-exact rasterisation of the surface's figures into row spans, in device pixels.
//
// Coordinates are pixel indices: pixel (i, j) is the point (i, j). A figure's points are snapped to a
// pixel and, for an even pen width, moved half a pixel right and down, so a pen of width w covers exactly
// w pixels across a horizontal or vertical stroke. A pixel belongs to a figure when its point lies in the
// figure's region; each figure gives each row at most two spans that never overlap, so a figure touches a
// pixel at most once.
#pragma once

#include <array>

#include "forms/geometry.h"

namespace forms::raster {

struct Span {
  int x0;  // first pixel
  int x1;  // one past the last pixel
};

// At most two disjoint spans of one row, left to right.
struct RowSpans {
  std::array<Span, 2> spans{};
  int count = 0;
};

struct Point {
  double x;
  double y;
};

// Snaps a fractional device position to the figure grid of a pen `width` pixels wide.
Point snap(double x, double y, int width);

// The outline of a circle: pixels whose distance d from the centre has r - w/2 < d <= r + w/2.
class Ring {
 public:
  Ring(Point center, double radius, int width);
  int top() const { return m_top; }
  int bottom() const { return m_bottom; }  // one past the last row
  RowSpans row(int y) const;

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

 private:
  Point m_c;
  double m_r2;
  int m_top;
  int m_bottom;
};

// A line with round ends: pixels within width/2 of the segment.
class Capsule {
 public:
  Capsule(Point a, Point b, int width);
  int top() const { return m_top; }
  int bottom() const { return m_bottom; }
  RowSpans row(int y) const;

 private:
  bool inside(double x, double y) const;
  Point m_a;
  Point m_b;
  double m_h;
  double m_h2;
  double m_dx;
  double m_dy;
  double m_len2;
  int m_top;
  int m_bottom;
};

// The outline of an axis-parallel rectangle drawn with a pen `width` wide centred on its edges; square
// corners.
class BoxOutline {
 public:
  BoxOutline(Point a, Point b, int width);
  int top() const { return m_top; }
  int bottom() const { return m_bottom; }
  RowSpans row(int y) const;

 private:
  int m_outer_left, m_outer_right;  // inclusive pixel ranges
  int m_inner_left, m_inner_right;  // the hole, inclusive; empty when left > right
  int m_top, m_bottom;              // rows of the outer rectangle, bottom exclusive
  int m_inner_top, m_inner_bottom;  // rows of the hole, bottom exclusive
};

// Calls sink(y, x0, x1) for every span of `figure` inside `clip`, top to bottom.
template <class Figure, class Sink>
void for_each_span(const Figure& figure, const Rect& clip, Sink&& sink) {
  const int y0 = figure.top() > clip.top ? figure.top() : clip.top;
  const int y1 = figure.bottom() < clip.bottom ? figure.bottom() : clip.bottom;
  for (int y = y0; y < y1; ++y) {
    const RowSpans spans = figure.row(y);
    for (int k = 0; k < spans.count; ++k) {
      const int x0 = spans.spans[k].x0 > clip.left ? spans.spans[k].x0 : clip.left;
      const int x1 = spans.spans[k].x1 < clip.right ? spans.spans[k].x1 : clip.right;
      if (x0 < x1) sink(y, x0, x1);
    }
  }
}

}  // namespace forms::raster
