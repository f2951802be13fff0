// Properties of the figures' row spans: widths, symmetry, agreement with the geometry they stand for,
// and the two ways of reading rows giving the same answer.
#include "graphics/raster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using forms::raster::BoxOutline;
using forms::raster::Capsule;
using forms::raster::Dot;
using forms::raster::Point;
using forms::raster::Ring;
using forms::raster::RowSpans;
using forms::raster::snap;
using forms::raster::Span;

// The pixels of one row of a figure, as a set of x.
template <class Shape>
std::set<int> row_pixels(const Shape& shape, int y) {
  std::set<int> xs;
  const RowSpans spans = shape.row(y);
  for (int k = 0; k < spans.count; ++k) {
    for (int x = spans.spans[k].x0; x < spans.spans[k].x1; ++x) xs.insert(x);
  }
  return xs;
}

template <class Shape>
std::set<std::pair<int, int>> all_pixels(const Shape& shape) {
  std::set<std::pair<int, int>> pixels;
  for (int y = shape.top(); y < shape.bottom(); ++y) {
    for (int x : row_pixels(shape, y)) pixels.insert({x, y});
  }
  return pixels;
}

// Spans of a row are non-empty, left to right and apart: no pixel is listed twice.
template <class Shape>
void expect_disjoint_rows(const Shape& shape, const std::string& what) {
  for (int y = shape.top(); y < shape.bottom(); ++y) {
    const RowSpans spans = shape.row(y);
    for (int k = 0; k < spans.count; ++k) {
      EXPECT_LT(spans.spans[k].x0, spans.spans[k].x1) << what << " row " << y << " span " << k;
      if (k > 0) {
        EXPECT_LT(spans.spans[k - 1].x1, spans.spans[k].x0) << what << " row " << y;
      }
    }
  }
}

double distance_to_segment(double px, double py, Point a, Point b) {
  const double dx = b.x - a.x;
  const double dy = b.y - a.y;
  const double len2 = dx * dx + dy * dy;
  double t = len2 == 0 ? 0 : ((px - a.x) * dx + (py - a.y) * dy) / len2;
  t = std::clamp(t, 0.0, 1.0);
  return std::hypot(px - (a.x + t * dx), py - (a.y + t * dy));
}

TEST(RasterTest, PenWidthCoversThatManyPixelsAcross) {
  for (int w = 1; w <= 16; ++w) {
    SCOPED_TRACE("width " + std::to_string(w));
    const Capsule horizontal(snap(10.3, 40.7, w), snap(90.2, 40.7, w), w);
    const Capsule vertical(snap(40.7, 10.3, w), snap(40.7, 90.2, w), w);
    int rows = 0;
    for (int y = horizontal.top(); y < horizontal.bottom(); ++y) rows += row_pixels(horizontal, y).count(50);
    EXPECT_EQ(rows, w) << "rows of a horizontal line at x = 50";
    EXPECT_EQ(row_pixels(vertical, 50).size(), static_cast<std::size_t>(w)) << "a vertical line's row 50";

    const BoxOutline box(snap(20, 20, w), snap(80, 70, w), w);
    const std::set<int> side_row = row_pixels(box, 45);
    EXPECT_EQ(side_row.size(), static_cast<std::size_t>(2 * w)) << "a box's two sides";
    int top_edge = 0;
    for (int y = box.top(); y < 45; ++y) top_edge += row_pixels(box, y).count(50);
    EXPECT_EQ(top_edge, w) << "a box's top edge";

    const Point c = snap(200, 200, w);
    const Ring ring(c, 60.4, w);
    const auto cx = static_cast<int>(std::floor(c.x));
    const auto cy = static_cast<int>(std::floor(c.y));
    int right = 0;
    for (int x : row_pixels(ring, cy)) right += x > cx ? 1 : 0;
    EXPECT_EQ(right, w) << "a circle crossing the axis right of its centre";
    int below = 0;
    for (int y = ring.top(); y < ring.bottom(); ++y) below += (y > cy && row_pixels(ring, y).count(cx)) ? 1 : 0;
    EXPECT_EQ(below, w) << "a circle crossing the axis below its centre";
  }
}

TEST(RasterTest, CirclesAndDotsAreSymmetricAboutTheirCentre) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> radius(0, 80);
  for (int i = 0; i < 200; ++i) {
    const int w = 1 + static_cast<int>(random() % 12);
    const double r = radius(random);
    const Point c = snap(100.6, 120.2, w);
    const Ring ring(c, r, w);
    const Dot dot(c, w);
    std::ostringstream what;
    what << "radius " << r << " width " << w;
    expect_disjoint_rows(ring, what.str());
    for (const auto& pixels : {all_pixels(ring), all_pixels(dot)}) {
      for (const auto& [x, y] : pixels) {
        // Mirror images through the centre's vertical, horizontal and diagonal lines.
        const int mx = static_cast<int>(2 * c.x) - x;
        const int my = static_cast<int>(2 * c.y) - y;
        const int tx = static_cast<int>(c.x - c.y) + y;
        const int ty = static_cast<int>(c.y - c.x) + x;
        ASSERT_TRUE(pixels.count({mx, y}) && pixels.count({x, my}) && pixels.count({tx, ty}))
            << what.str() << ": pixel (" << x << ", " << y << ") has no mirror image";
      }
    }
  }
}

// A line's pixels are the ones within half its width of the segment; only points within a hair of the
// boundary may go either way.
TEST(RasterTest, LinesHoldThePixelsWithinHalfTheirWidthOfTheSegment) {
  std::mt19937 random(11);
  std::uniform_real_distribution<double> coord(-20, 120);
  for (int i = 0; i < 300; ++i) {
    const int w = 1 + static_cast<int>(random() % 14);
    const Point a = snap(coord(random), coord(random), w);
    const Point b = i % 10 == 0 ? a : snap(coord(random), coord(random), w);
    const Capsule line(a, b, w);
    std::ostringstream what;
    what << "line (" << a.x << ", " << a.y << ")-(" << b.x << ", " << b.y << ") width " << w;
    expect_disjoint_rows(line, what.str());
    for (int y = line.top() - 2; y < line.bottom() + 2; ++y) {
      const std::set<int> xs = y >= line.top() && y < line.bottom() ? row_pixels(line, y) : std::set<int>{};
      for (int x = -40; x < 160; ++x) {
        const double d = distance_to_segment(x, y, a, b);
        if (std::abs(d - w / 2.0) < 1e-6) continue;
        ASSERT_EQ(xs.count(x) == 1, d < w / 2.0)
            << what.str() << ": pixel (" << x << ", " << y << ") at distance " << d;
      }
    }
  }
}

// rows() and a walker step along the figure; row(y) works each row out alone. All must agree everywhere,
// also starting in the middle of a figure.
TEST(RasterTest, SteppedRowsEqualRowsWorkedOutAlone) {
  std::mt19937 random(3);
  std::uniform_real_distribution<double> coord(-300, 300);
  for (int i = 0; i < 2000; ++i) {
    const int w = 1 + static_cast<int>(random() % 20);
    const Capsule line(snap(coord(random), coord(random), w), snap(coord(random), coord(random), w), w);
    // From the top, from anywhere, or the whole line: the stepping starts and changes course everywhere.
    const int height = line.bottom() - line.top();
    const int from = i % 3 == 0 ? line.top() : line.top() + static_cast<int>(random() % height);
    const int count = i % 3 == 2 ? height : std::min(80, line.bottom() - from);
    std::vector<RowSpans> stepped(static_cast<std::size_t>(count));
    line.rows(from, count, stepped.data());
    // A walker starts a few rows higher, above the line's top or inside it.
    Capsule::Walker walker(line, from - 3);
    for (int n = -3; n < count; ++n) {
      const RowSpans alone = line.row(from + n);
      const Span walked = walker.next();
      ASSERT_EQ(walked.x0 < walked.x1, alone.count == 1) << "line " << i << " row " << from + n << " walked";
      if (alone.count == 1) {
        ASSERT_EQ(walked.x0, alone.spans[0].x0) << "line " << i << " row " << from + n << " walked";
        ASSERT_EQ(walked.x1, alone.spans[0].x1) << "line " << i << " row " << from + n << " walked";
      }
      if (n < 0) continue;
      const RowSpans& s = stepped[static_cast<std::size_t>(n)];
      ASSERT_EQ(s.count, alone.count) << "line " << i << " row " << from + n;
      for (int k = 0; k < s.count; ++k) {
        ASSERT_EQ(s.spans[k].x0, alone.spans[k].x0) << "line " << i << " row " << from + n;
        ASSERT_EQ(s.spans[k].x1, alone.spans[k].x1) << "line " << i << " row " << from + n;
      }
    }
  }
}

// Two lines walked side by side (a hand and its next step, or any two) give, row by row, the pixels in
// exactly one of them, cut to the clip: the same as each row worked out alone. The walk switches between
// rows both lines cross in their middle and rows near an end, where the two lines' ends fall anywhere.
TEST(RasterTest, WalkedDifferenceOfTwoLinesEqualsTheirRowsApart) {
  std::mt19937 random(11);
  std::uniform_real_distribution<double> coord(-200, 200);
  std::uniform_real_distribution<double> turn(-0.2, 0.2);
  const forms::Rect clip{-150, -160, 170, 140};
  for (int i = 0; i < 3000; ++i) {
    const int w = 1 + static_cast<int>(random() % 9);
    const Point centre{coord(random), coord(random)};
    const Point tip{coord(random), coord(random)};
    // Half the pairs are hands: one centre, the tip turned a little about it.
    const double t = turn(random);
    const Point turned{centre.x + (tip.x - centre.x) * std::cos(t) - (tip.y - centre.y) * std::sin(t),
                       centre.y + (tip.x - centre.x) * std::sin(t) + (tip.y - centre.y) * std::cos(t)};
    const Point other = i % 2 == 0 ? Point{coord(random), coord(random)} : centre;
    const Capsule a(snap(centre.x, centre.y, w), snap(tip.x, tip.y, w), w);
    const Capsule b(snap(other.x, other.y, w), snap(i % 2 == 0 ? tip.x : turned.x, i % 2 == 0 ? tip.y : turned.y, w),
                    w);
    std::vector<std::array<int, 3>> walked;
    forms::raster::for_each_difference_run(a, b, clip, [&](int y, int x0, int x1) { walked.push_back({y, x0, x1}); });
    std::vector<std::array<int, 3>> apart;
    for (int y = clip.top; y < clip.bottom; ++y) {
      RowSpans d;
      forms::raster::difference(a.row(y), b.row(y), d);
      for (int k = 0; k < d.count; ++k) {
        const int x0 = std::max(d.spans[k].x0, clip.left);
        const int x1 = std::min(d.spans[k].x1, clip.right);
        if (x0 < x1) apart.push_back({y, x0, x1});
      }
    }
    ASSERT_EQ(walked, apart) << "pair " << i;
  }
}

TEST(RasterTest, DifferenceHoldsThePixelsInExactlyOneOfTwoRows) {
  std::mt19937 random(5);
  const auto random_row = [&] {
    RowSpans r;
    int x = static_cast<int>(random() % 10);
    r.count = static_cast<int>(random() % 3);
    for (int k = 0; k < r.count; ++k) {
      const int x0 = x + static_cast<int>(random() % 6);
      const int x1 = x0 + 1 + static_cast<int>(random() % 6);
      r.spans[k] = {x0, x1};
      x = x1 + 1;
    }
    return r;
  };
  const auto covers = [](const RowSpans& r, int x) {
    for (int k = 0; k < r.count; ++k) {
      if (x >= r.spans[k].x0 && x < r.spans[k].x1) return true;
    }
    return false;
  };
  for (int i = 0; i < 5000; ++i) {
    const RowSpans a = random_row();
    const RowSpans b = random_row();
    RowSpans d;
    forms::raster::difference(a, b, d);
    for (int k = 1; k < d.count; ++k) ASSERT_LT(d.spans[k - 1].x1, d.spans[k].x0) << "case " << i;
    for (int x = -1; x < 40; ++x) ASSERT_EQ(covers(d, x), covers(a, x) != covers(b, x)) << "case " << i << " x " << x;
  }
}

// Absurd input keeps the figures small enough to index and never loops for long.
TEST(RasterTest, AbsurdValuesGiveBoundedFigures) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const int widest = std::numeric_limits<int>::max();
  const Ring huge(snap(1e300, -1e300, 3), 1e300, widest);
  const Ring not_a_number(snap(nan, nan, 2), nan, 2);
  const Capsule far(snap(-inf, 5, 7), snap(inf, 5, 7), 7);
  const Capsule wide(snap(0, 0, widest), snap(1e9, 1e9, widest), widest);
  const BoxOutline box(snap(nan, -1e12, 4), snap(1e12, nan, 4), 4);
  for (int y : {-1, 0, 1, 500}) {
    for (const RowSpans& r : {huge.row(y), not_a_number.row(y), far.row(y), wide.row(y), box.row(y)}) {
      for (int k = 0; k < r.count; ++k) {
        EXPECT_LE(r.spans[k].x0, r.spans[k].x1);
        EXPECT_GT(r.spans[k].x0, -1e9);
        EXPECT_LT(r.spans[k].x1, 1e9);
      }
    }
  }
  EXPECT_EQ(far.row(5).count, 1) << "a line through the surface from far away is drawn";
}

}  // namespace
