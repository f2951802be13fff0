// The three windows as data, the pictures built into them, and the maker's address. Every back end builds
// its windows from these definitions; none hard-codes a layout.
#pragma once

#include <cstddef>
#include <span>

#include "forms/definition.h"

namespace resources {

inline constexpr char kMakerAddress[] = "www.quillet.example";

const forms::WindowDef& frmmain_definition();
const forms::WindowDef& frmprev_definition();
const forms::WindowDef& frmSetting_definition();

// The design-time picture of both clock windows: a square 601 x 601 baseline JPEG.
std::span<const std::byte> default_picture();
// The clock icon: two 256 x 256 images, at 8 and at 32 bits per pixel.
std::span<const std::byte> clock_icon();

}  // namespace resources
