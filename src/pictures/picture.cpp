#include "pictures/picture.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace forms {

Picture::Picture(int width, int height, std::vector<std::uint32_t> argb)
    : m_width(width), m_height(height), m_argb(std::move(argb)) {
  assert(width > 0 && height > 0);
  assert(m_argb.size() == static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  m_opaque = std::all_of(m_argb.begin(), m_argb.end(), [](std::uint32_t p) { return (p >> 24) == 0xFF; });
}

Size fit_within(Size source, Size bound) {
  if (bound.width <= 0 || bound.height <= 0) return source;
  if (source.width <= bound.width && source.height <= bound.height) return source;
  const double scale =
      std::min(static_cast<double>(bound.width) / source.width, static_cast<double>(bound.height) / source.height);
  return {std::max(1, static_cast<int>(std::lround(source.width * scale))),
          std::max(1, static_cast<int>(std::lround(source.height * scale)))};
}

long long whole_decode_cap(Size bound) {
  constexpr long long kCeiling = 24LL * 1024 * 1024;
  const long long shown = static_cast<long long>(std::max(bound.width, 0)) * std::max(bound.height, 0);
  return std::clamp(4 * shown, kWholeDecodeFloor, kCeiling);
}

Status check_source_size(Size source, long long cap) {
  if (source.width <= 0 || source.height <= 0) {
    return Error{"the picture has no pixels (" + std::to_string(source.width) + " x " + std::to_string(source.height) +
                 ")"};
  }
  const long long pixels = static_cast<long long>(source.width) * source.height;
  if (pixels > cap) {
    return Error{"the picture is too large (" + std::to_string(source.width) + " x " + std::to_string(source.height) +
                 " pixels)"};
  }
  return ok_status();
}

}  // namespace forms
