// The one-second tick in step with the local clock: one tick per second of the clock, none skipped and none
// twice, with a timer that fires late or early by as much as a real one does.
#include "forms/win32/second_lock.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using forms::win32::SecondLock;

TEST(SecondLockTest, AimsJustPastTheNextSecond) {
  EXPECT_EQ(SecondLock::delay_to_next_second(0), 1000 + SecondLock::kLagMs);
  EXPECT_EQ(SecondLock::delay_to_next_second(400), 600 + SecondLock::kLagMs);
  EXPECT_EQ(SecondLock::delay_to_next_second(999), 1 + SecondLock::kLagMs);
  EXPECT_EQ(SecondLock::delay_to_next_second(1200), 1 + SecondLock::kLagMs);  // a leap-second reading
}

TEST(SecondLockTest, AnEarlyFiringIsNotATick) {
  SecondLock lock;
  EXPECT_TRUE(lock.fired(100, 9).deliver);
  const SecondLock::Step early = lock.fired(100, 995);
  EXPECT_FALSE(early.deliver);
  EXPECT_EQ(early.next_delay_ms, 5 + SecondLock::kLagMs);
  EXPECT_TRUE(lock.fired(101, 12).deliver);
}

// A day's worth of simulated firing: the timer fires from 20 ms early to 30 ms late (a coarse 15.6 ms
// clock and a busy machine), and every second of the clock gets exactly one tick.
TEST(SecondLockTest, EverySecondTicksOnceWhateverTheTimerJitter) {
  std::mt19937 random(20240601);
  std::uniform_int_distribution<int> jitter(-20, 30);
  SecondLock lock;
  long long now_ms = 36000 * 1000LL + 437;  // 10:00:00.437
  long long due = now_ms + SecondLock::delay_to_next_second(static_cast<int>(now_ms % 1000));
  const long long first_second = now_ms / 1000;
  long long last_second = first_second;
  int ticks = 0;
  while (last_second < first_second + 86400) {
    now_ms = std::max(now_ms + 1, due + jitter(random));
    const long long second = now_ms / 1000;
    const SecondLock::Step step = lock.fired(static_cast<int>(second % 86400), static_cast<int>(now_ms % 1000));
    if (step.deliver) {
      ASSERT_EQ(second, last_second + 1) << "after " << ticks << " ticks";
      last_second = second;
      ++ticks;
    }
    due = now_ms + step.next_delay_ms;
  }
  EXPECT_EQ(ticks, 86400);
}

}  // namespace
