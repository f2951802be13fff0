// The form's timers as system timers of the window, keyed by the Timer's address. Each firing re-arms a
// one-shot delay from the timer's TickSchedule on the local clock, so a one-second timer stays in step
// with the clock's seconds instead of drifting against it.
#include "backends/win32/win32_window.h"

#include <algorithm>

namespace forms::win32 {
namespace {

// The local clock in milliseconds since midnight.
std::int64_t local_clock_ms() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return ((now.wHour * 60LL + now.wMinute) * 60 + now.wSecond) * 1000 + now.wMilliseconds;
}

}  // namespace

void Win32Window::on_timer(UINT_PTR id) {
  auto it = m_timers.find(id);
  if (it == m_timers.end()) {
    KillTimer(m_hwnd, id);
    return;
  }
  auto* timer = reinterpret_cast<Timer*>(id);
  const TickSchedule::Step step = it->second.fired(local_clock_ms());
  arm(id, step.next_delay_ms);
  if (step.deliver) timer->tick();
}

void Win32Window::timer_changed(Timer& timer) {
  if (m_hwnd == nullptr) return;
  const auto id = reinterpret_cast<UINT_PTR>(&timer);
  if (!timer.running()) {
    if (m_timers.erase(id) != 0 && m_hwnd != nullptr) KillTimer(m_hwnd, id);
    return;
  }
  auto it = m_timers.find(id);
  if (it == m_timers.end() || it->second.interval_ms() != timer.Interval()) {
    it = m_timers.insert_or_assign(id, TickSchedule(timer.Interval())).first;
  }
  arm(id, it->second.first_delay_ms(local_clock_ms()));
}

// A timer the system does not coalesce with others where it can, so a tick lands when it is due.
void Win32Window::arm(UINT_PTR id, int delay_ms) {
  using SetCoalescable = UINT_PTR(WINAPI*)(HWND, UINT_PTR, UINT, TIMERPROC, ULONG);
  static const auto set_coalescable = optional_function<SetCoalescable>(L"user32.dll", "SetCoalescableTimer");
  constexpr ULONG kNoCoalescing = 0xFFFFFFFF;
  const auto delay = static_cast<UINT>(std::max(USER_TIMER_MINIMUM, delay_ms));
  if (set_coalescable == nullptr || set_coalescable(m_hwnd, id, delay, nullptr, kNoCoalescing) == 0) {
    SetTimer(m_hwnd, id, delay, nullptr);
  }
}

}  // namespace forms::win32
