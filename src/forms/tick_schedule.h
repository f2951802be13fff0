// When a timer's ticks are due. Most intervals simply repeat. A one-second timer instead keeps in step with
// the wall clock: a plain 1000 ms timer drifts against the clock, so its tick lands ever later within the
// second and once in a while skips a whole second (or, drifting the other way, shows one twice). Its tick
// is due a few milliseconds after each second of the clock begins, and a firing that lands in the second
// already ticked (a timer that fired early, or a clock slewed back) is no tick but waits for the rest of
// that second. A back end only arms one-shot timers for the delays given here.
#pragma once

#include <cstdint>
#include <limits>

namespace forms {

class TickSchedule {
 public:
  // How long after a second begins a one-second tick is due: enough for a timer's coarseness, small to
  // the eye.
  static constexpr int kLagMs = 8;
  static constexpr int kClockInterval = 1000;

  struct Step {
    bool deliver;       // whether this firing is a tick
    int next_delay_ms;  // when to fire next
  };

  explicit TickSchedule(int interval_ms) : m_interval_ms(interval_ms) {}
  int interval_ms() const { return m_interval_ms; }

  // Times are the wall clock in milliseconds from any origin at which a second of the local clock begins
  // (midnight, or the epoch: time zones move the clock by whole seconds).
  int first_delay_ms(std::int64_t now_ms) const;
  Step fired(std::int64_t now_ms);

 private:
  int m_interval_ms;
  std::int64_t m_last_second = std::numeric_limits<std::int64_t>::min();
};

}  // namespace forms
