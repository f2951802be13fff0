// The one-second tick in step with the clock: one tick per second of the clock, none skipped and none
// twice, with a timer that fires late or early by as much as a real one does.
#include "forms/tick_schedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>

namespace {

using forms::TickSchedule;
constexpr int kLag = TickSchedule::kLagMs;

TEST(TickSchedule, AOneSecondTimerAimsJustPastTheNextSecond) {
  const TickSchedule schedule(1000);
  const std::int64_t second = 1'700'000'000'000;  // any origin: here the epoch, in milliseconds
  EXPECT_EQ(schedule.first_delay_ms(second), 1000 + kLag);
  EXPECT_EQ(schedule.first_delay_ms(second + 400), 600 + kLag);
  EXPECT_EQ(schedule.first_delay_ms(second + 999), 1 + kLag);
  EXPECT_EQ(schedule.first_delay_ms(-1), 1 + kLag) << "a moment before the origin";
}

TEST(TickSchedule, OtherIntervalsRepeatPlainly) {
  TickSchedule schedule(250);
  EXPECT_EQ(schedule.first_delay_ms(123), 250);
  for (const std::int64_t now : {std::int64_t{0}, std::int64_t{10}, std::int64_t{10}}) {
    const TickSchedule::Step step = schedule.fired(now);
    EXPECT_TRUE(step.deliver) << "every firing of another interval is a tick, even in the same second";
    EXPECT_EQ(step.next_delay_ms, 250);
  }
}

TEST(TickSchedule, AFiringInTheSecondAlreadyTickedIsNoTick) {
  TickSchedule schedule(1000);
  EXPECT_TRUE(schedule.fired(100'009).deliver);
  const TickSchedule::Step early = schedule.fired(100'995);
  EXPECT_FALSE(early.deliver) << "fired early, still inside the second already shown";
  EXPECT_EQ(early.next_delay_ms, 5 + kLag);
  EXPECT_TRUE(schedule.fired(101'012).deliver);
  EXPECT_FALSE(schedule.fired(101'500).deliver) << "the clock was slewed back";
  EXPECT_TRUE(schedule.fired(103'010).deliver) << "a late tick shows its own second";
}

// A day's worth of simulated firing: the timer fires from 20 ms early to 900 ms late (a coarse 15.6 ms
// clock, a busy machine), and every second of the clock gets at most one tick, with none skipped while
// the timer keeps within the second.
TEST(TickSchedule, EverySecondTicksOnceWhateverTheTimerJitter) {
  std::mt19937 random(20240601);
  std::uniform_int_distribution<int> jitter(-20, 30);
  std::uniform_int_distribution<int> stall(0, 900);
  TickSchedule schedule(1000);
  std::int64_t now = 36000 * 1000LL + 437;  // 10:00:00.437
  std::int64_t due = now + schedule.first_delay_ms(now);
  const std::int64_t first_second = now / 1000;
  std::int64_t last_second = first_second;
  int ticks = 0;
  while (last_second < first_second + 86400) {
    const int late = ticks % 97 == 0 ? stall(random) : jitter(random);
    now = std::max(now + 1, due + late);
    const TickSchedule::Step step = schedule.fired(now);
    if (step.deliver) {
      ASSERT_EQ(now / 1000, last_second + 1) << "after " << ticks << " ticks";
      last_second = now / 1000;
      ++ticks;
    }
    due = now + step.next_delay_ms;
  }
  EXPECT_EQ(ticks, 86400);
}

}  // namespace
