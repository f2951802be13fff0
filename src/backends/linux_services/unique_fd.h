// A file descriptor closed when its owner goes.
#pragma once

#include <unistd.h>

namespace forms {

struct UniqueFd {
  int fd = -1;

  UniqueFd() = default;
  explicit UniqueFd(int descriptor) : fd(descriptor) {}
  ~UniqueFd() {
    if (fd >= 0) ::close(fd);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
};

}  // namespace forms
