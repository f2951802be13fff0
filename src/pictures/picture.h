// A decoded picture: 32-bit premultiplied ARGB pixels (0xAARRGGBB), rows top to bottom. Pictures are
// immutable once made and shared between the controls that show them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "values/geometry.h"
#include "values/result.h"

namespace forms {

// A source picture with more pixels than this is refused before its pixels are decoded: 64 Mpx is a
// 9,000 x 7,000 photograph, while the frame it would be drawn into is at most an 8K screen. Only a
// decoder that scales as it decodes (JPEG) gets this far; see whole_decode_cap for the others.
constexpr long long kMaxSourcePixels = 64LL * 1024 * 1024;

// The most pixels of a picture that is decoded whole before it is scaled (PNG, GIF, bitmap): four times
// what the largest monitor shows, and never less than a 16 Mpx photograph (kWholeDecodeFloor, so a
// picture that size or smaller passes whatever the bound) nor more than 24 Mpx, which keeps the peak of a
// load (the decoded picture, at 4 bytes a pixel, and its scaled copy) under 200 MB.
constexpr long long kWholeDecodeFloor = 16LL * 1024 * 1024;
long long whole_decode_cap(Size bound);

class Picture {
 public:
  Picture(int width, int height, std::vector<std::uint32_t> argb);

  int width() const { return m_width; }
  int height() const { return m_height; }
  Size size() const { return {m_width, m_height}; }
  const std::uint32_t* row(int y) const { return m_argb.data() + static_cast<std::size_t>(y) * m_width; }
  std::span<const std::uint32_t> pixels() const { return m_argb; }
  // Every pixel has alpha 255, so drawing the picture replaces what lies under it.
  bool opaque() const { return m_opaque; }

 private:
  int m_width;
  int m_height;
  std::vector<std::uint32_t> m_argb;
  bool m_opaque;
};

using PictureRef = std::shared_ptr<const Picture>;

// The size a picture of `source` pixels is decoded at so that it fits within `bound` (aspect kept,
// never enlarged). A bound with a zero side means "no bound".
Size fit_within(Size source, Size bound);

// Checks a size a decoder reports before it allocates anything, against at most `cap` pixels.
Status check_source_size(Size source, long long cap = kMaxSourcePixels);

}  // namespace forms
