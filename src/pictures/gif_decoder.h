// The first picture of a GIF file, as a viewer shows it before any animation: the logical screen, clear
// (alpha 0) wherever the first image leaves it so (outside the image, at its transparent colour, and
// past what its compressed data holds), and opaque elsewhere. Later images are read past, never decoded.
//
// The file must be whole: it is refused when it ends before its trailer, when an image has no colour
// table, an impossible code size or no pixels, and when `accept` refuses the screen's size, which it
// hears before anything is allocated for the pixels.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "pictures/picture.h"
#include "values/result.h"

namespace forms {

Result<PictureRef> decode_gif(std::span<const std::uint8_t> file, const std::function<Status(Size)>& accept);

}  // namespace forms
