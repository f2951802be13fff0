// Keeps a one-second timer in step with the local clock. A plain 1000 ms timer drifts against the clock,
// so its tick lands ever later within the second and once in a while skips a whole second (or, drifting
// the other way, shows one twice). Instead each tick is a one-shot armed for just after the next second of
// the local clock begins; a tick that fires early, still inside the second already shown, is not
// delivered but re-armed for the rest of that second.
#pragma once

namespace forms::win32 {

class SecondLock {
 public:
  // How long after a second begins a tick is due: enough for the timer's coarseness, small to the eye.
  static constexpr int kLagMs = 8;

  struct Step {
    bool deliver;       // whether this firing is a tick
    int next_delay_ms;  // when to fire next
  };

  // The delay from a moment `ms_into_second` milliseconds past a second to just after the next one begins.
  static constexpr int delay_to_next_second(int ms_into_second) {
    const int ms = ms_into_second < 0 ? 0 : ms_into_second > 999 ? 999 : ms_into_second;
    return 1000 - ms + kLagMs;
  }

  // The timer fired at this local time (seconds since midnight, milliseconds into that second).
  constexpr Step fired(int second_of_day, int ms_into_second) {
    const bool fresh = second_of_day != m_last_second;
    if (fresh) m_last_second = second_of_day;
    return {fresh, delay_to_next_second(ms_into_second)};
  }

 private:
  int m_last_second = -1;
};

}  // namespace forms::win32
