// Work run within a deadline: a job past it is abandoned as a passing failure, and the job's thread
// leaves the ending signals to the others.
#include "backends/linux_services/deadline.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <chrono>
#include <csignal>
#include <future>
#include <memory>
#include <thread>

namespace {

using forms::linux_services::run_within;
using namespace std::chrono_literals;

TEST(Deadline, AJobDoneInTimeGivesItsResultAndRunsWithTheEndingSignalsBlocked) {
  bool blocked = false;
  auto result = run_within(1000ms, "cannot load x", [&blocked] {
    sigset_t set;
    pthread_sigmask(SIG_BLOCK, nullptr, &set);
    blocked = sigismember(&set, SIGTERM) == 1 && sigismember(&set, SIGINT) == 1 && sigismember(&set, SIGHUP) == 1;
    return forms::Result<forms::PictureRef>(
        std::make_shared<const forms::Picture>(1, 1, std::vector<std::uint32_t>{0}));
  });
  ASSERT_TRUE(result);
  EXPECT_EQ(result.value()->width(), 1);
  EXPECT_TRUE(blocked);

  auto refused =
      run_within(1000ms, "cannot load x", [] { return forms::Result<forms::PictureRef>(forms::Error{"no"}); });
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.failure(), forms::Failure::Lasting);
}

TEST(Deadline, AJobThatNeverEndsIsAbandonedAtItsDeadlineAsAPassingFailure) {
  auto never = std::make_shared<std::promise<void>>();  // kept alive by the job, which waits on it forever
  const auto start = std::chrono::steady_clock::now();
  auto result = run_within(200ms, "cannot load /stalled/x.gif", [never] {
    never->get_future().wait();
    return forms::Result<forms::PictureRef>(forms::Error{"unreachable"});
  });
  const auto waited = std::chrono::steady_clock::now() - start;
  ASSERT_FALSE(result);
  EXPECT_EQ(result.failure(), forms::Failure::Passing);
  EXPECT_EQ(result.reason(), "cannot load /stalled/x.gif: it took longer than 200 ms (abandoned)");
  EXPECT_GE(waited, 200ms);
  EXPECT_LT(waited, 1500ms);
}

// A job waited for some time after it started has only what is left of its deadline: the wait ends at the
// deadline counted from the start, not from the wait.
TEST(Deadline, AJobWaitedForLaterHasWhatIsLeftOfItsDeadline) {
  auto never = std::make_shared<std::promise<void>>();
  forms::linux_services::BackgroundJob job([never] {
    never->get_future().wait();
    return forms::Result<forms::PictureRef>(forms::Error{"unreachable"});
  });
  std::this_thread::sleep_for(300ms);
  const auto start = std::chrono::steady_clock::now();
  auto result = job.wait(400ms, "cannot load /stalled/x.gif");
  const auto waited = std::chrono::steady_clock::now() - start;
  ASSERT_FALSE(result);
  EXPECT_EQ(result.failure(), forms::Failure::Passing);
  EXPECT_LT(waited, 350ms) << "the deadline was counted from the wait, not from the job's start";
}

}  // namespace
