// The images inside an .ico file: a directory of entries, each giving an image's width, colour depth and
// where its bytes lie in the file. Only the directory is read here; the image bytes go to the platform.
#pragma once

#include <cstddef>
#include <optional>
#include <span>

namespace forms {

// The bytes of the image in an .ico file that suits a square of `size` pixels best: the deepest colour,
// then the nearest width. nullopt when the file is no icon or no entry lies wholly inside it.
std::optional<std::span<const std::byte>> best_icon_image(std::span<const std::byte> file, int size);

}  // namespace forms
