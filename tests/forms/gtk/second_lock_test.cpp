#include "forms/gtk/second_lock.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

namespace {

using forms::gtk::SecondLock;

constexpr std::int64_t kSecond = 1000000;
constexpr std::int64_t kMargin = SecondLock::kMarginMs * 1000;

TEST(SecondLock, TheDelayEndsJustPastTheNextSecond) {
  const std::int64_t start = 1'700'000'000 * kSecond;
  for (const std::int64_t into :
       {std::int64_t{0}, std::int64_t{1}, kMargin, kSecond / 2, kSecond - 1000, kSecond - 1}) {
    const std::int64_t now = start + into;
    const std::int64_t due = now + SecondLock::delay_ms(now) * std::int64_t{1000};
    EXPECT_GE(due, start + kSecond + kMargin) << into << " us into the second";
    EXPECT_LT(due, start + kSecond + kMargin + 1000) << into << " us into the second";
  }
}

TEST(SecondLock, AFiringInTheSecondAlreadyTickedDoesNotTick) {
  SecondLock lock;
  EXPECT_TRUE(lock.due(10 * kSecond + kMargin));
  EXPECT_FALSE(lock.due(10 * kSecond + 999000)) << "the wall clock was slewed back";
  EXPECT_TRUE(lock.due(11 * kSecond + kMargin));
  EXPECT_TRUE(lock.due(13 * kSecond + kMargin)) << "a late tick shows its own second";
}

// Armed again after each tick with the delay it asks for, late by up to 0.9 s each time (a busy machine),
// the timer ticks once in each second of the clock: the second hand neither skips nor repeats.
TEST(SecondLock, FollowsTheClockWhateverTheLateness) {
  std::mt19937 random(12345);
  std::uniform_int_distribution<std::int64_t> lateness(0, 900000);
  SecondLock lock;
  std::int64_t now = 1'700'000'123 * kSecond + 456789;
  std::int64_t last_second = -1;
  for (int tick = 0; tick < 600; ++tick) {
    now += SecondLock::delay_ms(now) * std::int64_t{1000} + lateness(random);
    ASSERT_TRUE(lock.due(now)) << "tick " << tick;
    const std::int64_t second = now / kSecond;
    if (last_second >= 0) {
      ASSERT_EQ(second, last_second + 1) << "tick " << tick;
    }
    last_second = second;
  }
}

}  // namespace
