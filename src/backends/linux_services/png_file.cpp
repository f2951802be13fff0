#include "backends/linux_services/png_file.h"

#include <cairo.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace forms {

std::optional<RgbImage> read_png(const std::string& path) {
  cairo_surface_t* surface = cairo_image_surface_create_from_png(path.c_str());
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return std::nullopt;
  }
  cairo_surface_flush(surface);
  RgbImage image{{cairo_image_surface_get_width(surface), cairo_image_surface_get_height(surface)}, {}};
  image.pixels.reserve(static_cast<std::size_t>(image.size.width) * static_cast<std::size_t>(image.size.height));
  const unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < image.size.height; ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
    for (int x = 0; x < image.size.width; ++x) image.pixels.push_back(row[x] & 0xFFFFFFu);
  }
  cairo_surface_destroy(surface);
  return image;
}

bool write_png(const RgbImage& image, const std::string& path) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, image.size.width, image.size.height);
  unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < image.size.height; ++y) {
    std::copy_n(image.pixels.data() + static_cast<std::ptrdiff_t>(y) * image.size.width, image.size.width,
                reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride));
  }
  cairo_surface_mark_dirty(surface);
  const bool ok = cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(surface);
  return ok;
}

}  // namespace forms
