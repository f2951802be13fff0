// The running program's own file, for what lies beside it (the default picture).
#pragma once

#include <string>

namespace forms {

// The path of the running program's file, read from /proc/self/exe; `fallback` when it cannot be read.
std::string executable_path(const std::string& fallback);

}  // namespace forms
