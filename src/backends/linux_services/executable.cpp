#include "backends/linux_services/executable.h"

#include <unistd.h>

#include <climits>

namespace forms {

std::string executable_path(const std::string& fallback) {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : fallback;
}

}  // namespace forms
