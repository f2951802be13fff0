// Twips, the unit window definitions are written in: 1440 to the inch, so 15 to a pixel at 96 dpi.
#pragma once

#include <cmath>

namespace forms {

constexpr double kTwipsPerInch = 1440.0;

// The nearest whole number of pixels to a length in twips on a screen of `dpi` dots per inch.
inline int twips_to_pixels(double twips, double dpi) {
  return static_cast<int>(std::lround(twips * dpi / kTwipsPerInch));
}

}  // namespace forms
