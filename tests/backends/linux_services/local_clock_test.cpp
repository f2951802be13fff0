// The local time of day with the zone's offset kept for a minute equals localtime_r's, second by second,
// across the summer-time changes of zones whose offsets are whole hours, half hours and quarter hours.
#include "backends/linux_services/local_clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace {

class LocalClockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    m_saved = tz != nullptr ? std::optional<std::string>(tz) : std::nullopt;
  }
  void TearDown() override {
    if (m_saved) {
      setenv("TZ", m_saved->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> m_saved;
};

TEST_F(LocalClockTest, GivesTheTimeOfDayLocaltimeGivesAcrossOffsetChanges) {
  struct Zone {
    const char* name;
    std::time_t change;  // a change of offset in it
  };
  // 2026-03-29 01:00 UTC (Berlin to summer time), 2026-11-01 04:30 UTC (St John's back to standard time),
  // and a Kathmandu day (+5:45, no change).
  for (const Zone& zone :
       {Zone{"Europe/Berlin", 1774746000}, Zone{"America/St_Johns", 1793507400}, Zone{"Asia/Kathmandu", 1790000000}}) {
    setenv("TZ", zone.name, 1);
    tzset();
    forms::linux_services::LocalClock clock;
    for (std::time_t now = zone.change - 3 * 3600 - 7; now < zone.change + 3 * 3600; now += 13) {
      std::tm local{};
      localtime_r(&now, &local);
      const forms::TimeOfDay expected{local.tm_hour, local.tm_min, local.tm_sec};
      ASSERT_EQ(clock.at(now), expected) << zone.name << " at " << now << ": " << clock.at(now).hour << ":"
                                         << clock.at(now).minute << ":" << clock.at(now).second << ", expected "
                                         << expected.hour << ":" << expected.minute << ":" << expected.second;
    }
  }
}

}  // namespace
