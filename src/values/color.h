// Colour values as the windows hold them (red in the low byte: red + 256 * green + 65536 * blue) and the
// frame buffer's pixel form (0x00RRGGBB in a 32-bit word, i.e. B, G, R, X in memory on little-endian
// machines: the layout of a Win32 32-bit DIB and of cairo's RGB24).
#pragma once

#include <cstdint>

namespace forms {

using OleColor = std::int32_t;
using Pixel = std::uint32_t;

constexpr OleColor kWhite = 0xFFFFFF;
constexpr OleColor kBlack = 0;

constexpr int red_of(OleColor c) { return c & 0xFF; }
constexpr int green_of(OleColor c) { return (c >> 8) & 0xFF; }
constexpr int blue_of(OleColor c) { return (c >> 16) & 0xFF; }

constexpr OleColor rgb(int red, int green, int blue) { return red + 256 * green + 65536 * blue; }

// Only the low 24 bits of a colour value name a colour; the high byte is ignored.
constexpr Pixel to_pixel(OleColor c) {
  return (static_cast<Pixel>(red_of(c)) << 16) | (static_cast<Pixel>(green_of(c)) << 8) |
         static_cast<Pixel>(blue_of(c));
}

}  // namespace forms
