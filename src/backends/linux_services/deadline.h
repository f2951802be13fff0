// Running a piece of work that may never end (a decoder spinning over a crafted file, a read from a
// stalled mount) on a thread of its own, and waiting for it no longer than a deadline counted from its
// start. A job past its
// deadline is abandoned: it runs on, detached, and its result is dropped when it ends, so whatever it
// captures must be owned by the job itself. The job's thread blocks the ending signals (SIGTERM, SIGINT,
// SIGHUP), so that they reach a thread that can act on them at once.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "pictures/picture.h"
#include "values/result.h"

namespace forms::linux_services {

// How long a picture may take to load before the program goes on without it.
constexpr std::chrono::milliseconds kPictureDeadline{5000};

// How the reason of a job past its deadline ends.
constexpr std::string_view kOverdue = " (abandoned)";

// A job started on a thread of its own when made, whose result is taken once, later. A job nobody waits
// for is abandoned when this goes.
class BackgroundJob {
 public:
  explicit BackgroundJob(std::function<Result<PictureRef>()> job);
  ~BackgroundJob();
  BackgroundJob(BackgroundJob&&) noexcept;
  BackgroundJob& operator=(BackgroundJob&&) = delete;
  BackgroundJob(const BackgroundJob&) = delete;
  BackgroundJob& operator=(const BackgroundJob&) = delete;

  // The job's result, or a passing failure "<what>: it took longer than N s (abandoned)" when it is not
  // done within `deadline` of its start. Call once.
  Result<PictureRef> wait(std::chrono::milliseconds deadline, const std::string& what);

 private:
  struct Shared;
  std::shared_ptr<Shared> m_shared;
  std::thread m_worker;
  std::chrono::steady_clock::time_point m_started;
};

// The job run at once and waited for: its result, or the passing failure above.
Result<PictureRef> run_within(std::chrono::milliseconds deadline, const std::string& what,
                              std::function<Result<PictureRef>()> job);

}  // namespace forms::linux_services
