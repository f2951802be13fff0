// Files built into the program (generated from src/resources/ at build time by cmake/embed.cmake).
#pragma once

#include <cstddef>

namespace resources::embedded {

extern const unsigned char default_picture_jpg[];
extern const std::size_t default_picture_jpg_size;
extern const unsigned char clock_ico[];
extern const std::size_t clock_ico_size;

}  // namespace resources::embedded
