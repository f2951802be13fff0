// Keeps a one-second timer just behind the wall clock's second: each tick is due a few milliseconds after
// the local clock's second changes, so the second hand it draws never skips a second for a late tick nor
// shows the same second twice for an early one. Times are the wall clock in microseconds
// (g_get_real_time); time zones move the clock by whole seconds, so their seconds change at the same
// instants.
#pragma once

#include <cstdint>
#include <limits>

namespace forms::gtk {

class SecondLock {
 public:
  static constexpr int kMarginMs = 5;

  // Milliseconds from `now_us` to kMarginMs past the start of the next second.
  static int delay_ms(std::int64_t now_us);

  // Whether a timer that fires at `now_us` ticks: not when it lands in the second it ticked last (the
  // wall clock was slewed back a little), so no second is drawn twice.
  bool due(std::int64_t now_us);

 private:
  std::int64_t m_last_second = std::numeric_limits<std::int64_t>::min();
};

}  // namespace forms::gtk
