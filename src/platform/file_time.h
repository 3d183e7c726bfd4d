// FILETIME values (100 ns units since 1601-01-01 UTC) and calendar times, in
// plain arithmetic, so that both sides of the boundary read and write the
// times of WTSINFOW the same way.
#pragma once

#include <cstdint>

#include "platform/system.h"

namespace quillmarsh::platform {

inline constexpr int64_t kFileTimeUnitsPerSecond = 10'000'000;
// Seconds from 1601-01-01 to 1970-01-01.
inline constexpr int64_t kSecondsFrom1601To1970 = 11'644'473'600;

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
constexpr int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto year_of_era = static_cast<unsigned>(year - era * 400);
  const unsigned day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + static_cast<int64_t>(day_of_era) - 719468;
}

// Seconds since 1970-01-01 UTC as a calendar time (milliseconds 0).
constexpr CalendarTime CalendarFromUnixSeconds(int64_t seconds) {
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto day_of_era = static_cast<unsigned>(days - era * 146097);
  const unsigned year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const unsigned day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const unsigned shifted_month = (5 * day_of_year + 2) / 153;
  const unsigned day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
  const unsigned month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
  const int64_t year = static_cast<int64_t>(year_of_era) + era * 400 + (month <= 2 ? 1 : 0);
  CalendarTime time;
  time.Year = static_cast<uint16_t>(year);
  time.Month = static_cast<uint16_t>(month);
  time.Day = static_cast<uint16_t>(day);
  time.Hour = static_cast<uint16_t>(rest / 3600);
  time.Minute = static_cast<uint16_t>(rest % 3600 / 60);
  time.Second = static_cast<uint16_t>(rest % 60);
  return time;
}

constexpr int64_t UnixSecondsFromCalendar(const CalendarTime& time) {
  return DaysFromCivil(time.Year, time.Month, time.Day) * 86400 + time.Hour * 3600 +
         time.Minute * 60 + time.Second;
}

constexpr int64_t FileTimeFromUnixSeconds(int64_t seconds) {
  return (seconds + kSecondsFrom1601To1970) * kFileTimeUnitsPerSecond;
}

// Whole seconds, rounded down.
constexpr int64_t UnixSecondsFromFileTime(int64_t file_time) {
  return file_time / kFileTimeUnitsPerSecond - kSecondsFrom1601To1970;
}

static_assert(DaysFromCivil(1970, 1, 1) == 0);
static_assert(DaysFromCivil(2000, 3, 1) == 11017);
static_assert(UnixSecondsFromCalendar(CalendarFromUnixSeconds(951782400)) == 951782400);

}  // namespace quillmarsh::platform
