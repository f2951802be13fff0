#include "forms/gtk/second_lock.h"

namespace forms::gtk {
namespace {

constexpr std::int64_t kMicrosPerSecond = 1000000;

std::int64_t floor_div(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0); }

}  // namespace

int SecondLock::delay_ms(std::int64_t now_us) {
  const std::int64_t into_second = now_us - floor_div(now_us, kMicrosPerSecond) * kMicrosPerSecond;
  const std::int64_t delay_us = kMicrosPerSecond - into_second + static_cast<std::int64_t>(kMarginMs) * 1000;
  return static_cast<int>((delay_us + 999) / 1000);
}

bool SecondLock::due(std::int64_t now_us) {
  const std::int64_t second = floor_div(now_us, kMicrosPerSecond);
  if (second == m_last_second) return false;
  m_last_second = second;
  return true;
}

}  // namespace forms::gtk
