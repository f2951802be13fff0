// The per-user lock every instance of the program holds while it runs, so that a second saver knows a
// first one may be showing. It lives in a folder only the user can write: $XDG_RUNTIME_DIR when that is
// a folder of the user's own with mode 0700, else "dialsaver-<uid>" in $TMPDIR (or /tmp), created 0700
// and checked to be the user's own. The lock file is opened without following a link and must be a plain
// file of the user's with a single name: nobody else can hold, redirect or pre-create it. The kernel
// drops the lock when its holder dies, so a killed instance leaves nothing stale.
#pragma once

#include <filesystem>
#include <string>

#include "values/result.h"

namespace forms::linux_services {

// The folder the lock lives in, created when it is the fallback; the reason when no such folder can be had.
Result<std::filesystem::path> private_runtime_folder();

class InstanceLock {
 public:
  enum class State { Held, HeldElsewhere, Unknown };

  // Tries for the lock in private_runtime_folder(), without waiting.
  InstanceLock();
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  State state() const { return m_state; }
  // Why the lock could not be had (state Unknown).
  const std::string& problem() const { return m_problem; }

 private:
  int m_fd = -1;
  State m_state = State::Unknown;
  std::string m_problem;
};

}  // namespace forms::linux_services
