// The local time of day, with the zone's offset looked up once a minute: localtime_r works through the
// zone's rules at every call, a measurable part of a clock's tick. Zones change their offset only at
// whole minutes of universal time, so the time of day is the one localtime_r gives.
#pragma once

#include <ctime>

#include "forms/backend.h"

namespace forms::linux_services {

class LocalClock {
 public:
  TimeOfDay at(std::time_t now);

 private:
  std::time_t m_minute = 0;  // the universal minute the offset was looked up in
  long m_offset = 0;         // seconds east of universal time
  bool m_known = false;
};

}  // namespace forms::linux_services
