// Counts the program's calls of the global operator new, so that a test or a benchmark can show that a
// path allocates nothing. Linking allocation_counter.cpp replaces operator new for the whole program;
// under AddressSanitizer, which brings its own, nothing is replaced and counting is unavailable.
#pragma once

#include <cstddef>

namespace allocation_counter {

// False when operator new is not ours (a sanitizer build).
bool available();
// Calls of operator new and new[] so far.
std::size_t count();

}  // namespace allocation_counter
