#include "forms/tick_schedule.h"

#include "values/numeric.h"

namespace forms {
namespace {

constexpr std::int64_t kMsPerSecond = 1000;

int delay_to_next_second(std::int64_t now_ms) {
  const std::int64_t into_second = now_ms - floor_div(now_ms, kMsPerSecond) * kMsPerSecond;
  return static_cast<int>(kMsPerSecond - into_second) + TickSchedule::kLagMs;
}

}  // namespace

int TickSchedule::first_delay_ms(std::int64_t now_ms) const {
  return m_interval_ms == kClockInterval ? delay_to_next_second(now_ms) : m_interval_ms;
}

TickSchedule::Step TickSchedule::fired(std::int64_t now_ms) {
  if (m_interval_ms != kClockInterval) return {true, m_interval_ms};
  const std::int64_t second = floor_div(now_ms, kMsPerSecond);
  const bool fresh = second != m_last_second;
  m_last_second = second;
  return {fresh, delay_to_next_second(now_ms)};
}

}  // namespace forms
