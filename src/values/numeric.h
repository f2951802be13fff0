// Whole-number and coordinate arithmetic shared by the rasteriser, the picture scaler and the timers.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace forms {

// floor(a / b) for b > 0, whatever the sign of a.
constexpr std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && a < 0) ? q - 1 : q;
}

// Positions, radii and pen widths are kept within kFarPixels pixels (a zero scale or a huge radius would
// otherwise overflow an int); a figure built from them then reaches at most 3 * kFarPixels.
inline constexpr double kFarPixels = 1e7;

// A pixel coordinate within kFarPixels of the origin; NaN counts as 0.
inline double tame(double v) { return std::isnan(v) ? 0 : std::clamp(v, -kFarPixels, kFarPixels); }

}  // namespace forms
