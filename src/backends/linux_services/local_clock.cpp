#include "backends/linux_services/local_clock.h"

namespace forms::linux_services {

TimeOfDay LocalClock::at(std::time_t now) {
  const std::time_t minute = now / 60 - (now % 60 < 0 ? 1 : 0);
  if (!m_known || minute != m_minute) {
    std::tm local{};
    localtime_r(&now, &local);
    m_offset = local.tm_gmtoff;
    m_minute = minute;
    m_known = true;
  }
  constexpr std::time_t kDay = std::time_t{24} * 60 * 60;
  const std::time_t second = ((now + m_offset) % kDay + kDay) % kDay;
  return {static_cast<int>(second / 3600), static_cast<int>(second / 60 % 60), static_cast<int>(second % 60)};
}

}  // namespace forms::linux_services
