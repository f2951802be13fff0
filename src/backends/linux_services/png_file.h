// Whole images as PNG files, through cairo: what dialsaver-render writes and the image tests compare.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "values/color.h"
#include "values/geometry.h"

namespace forms {

// Opaque pixels, 0x00RRGGBB, rows top to bottom with no gap.
struct RgbImage {
  Size size;
  std::vector<Pixel> pixels;
};

std::optional<RgbImage> read_png(const std::string& path);
bool write_png(const RgbImage& image, const std::string& path);

}  // namespace forms
