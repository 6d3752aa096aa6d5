// A zone's wall-clock readings resolved to moments, around changes of offset.
#include "calendar/local_time.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace pimbridge::calendar {
namespace {

constexpr std::int64_t kHour = 3'600;

std::int64_t localSeconds(const Reading& r) {
  return readingSeconds(r);
}

Reading date(std::int64_t year, int month, int day) {
  return {year, month, day, 0, 0, 0};
}
Reading dateTime(std::int64_t year, int month, int day, int hour, int minute, int second) {
  return {year, month, day, hour, minute, second};
}

// A zone with New York's offsets in 2024: -5 h, -4 h from 10 March 07:00Z,
// -5 h again from 3 November 06:00Z.
std::int64_t newYork2024(std::int64_t utcSeconds) {
  if (utcSeconds < 1'710'054'000) return -5 * kHour;
  if (utcSeconds < 1'730'613'600) return -4 * kHour;
  return -5 * kHour;
}

// A zone whose clock skips from 00:00 to 01:00 on 1 June 2024, as zones that
// change at midnight do: an all-day due date on that day has no midnight.
std::int64_t midnightChange(std::int64_t utcSeconds) {
  return utcSeconds < 1'717'200'000 ? 0 : kHour;
}

std::int64_t fixedIndia(std::int64_t) {
  return 5 * kHour + 30 * 60;
}

TEST(LocalTime, WallClockReadingsResolveToMoments) {
  struct Case {
    const char* what;
    UtcOffsetAt zone;
    Reading reading;
    std::int64_t utc;
  };
  const std::vector<Case> cases = {
      {"winter", newYork2024, dateTime(2024, 1, 15, 12, 0, 0), localSeconds(dateTime(2024, 1, 15, 17, 0, 0))},
      {"summer", newYork2024, dateTime(2024, 7, 1, 12, 0, 0), localSeconds(dateTime(2024, 7, 1, 16, 0, 0))},
      {"last second before the skip", newYork2024, dateTime(2024, 3, 10, 1, 59, 59),
       localSeconds(dateTime(2024, 3, 10, 6, 59, 59))},
      {"skipped reading lands after the change", newYork2024, dateTime(2024, 3, 10, 2, 30, 0),
       localSeconds(dateTime(2024, 3, 10, 7, 30, 0))},
      {"first reading after the skip", newYork2024, dateTime(2024, 3, 10, 3, 0, 0),
       localSeconds(dateTime(2024, 3, 10, 7, 0, 0))},
      {"day of the skip, midnight", newYork2024, date(2024, 3, 10), localSeconds(dateTime(2024, 3, 10, 5, 0, 0))},
      {"repeated reading is its first showing", newYork2024, dateTime(2024, 11, 3, 1, 30, 0),
       localSeconds(dateTime(2024, 11, 3, 5, 30, 0))},
      {"first reading after the repeat", newYork2024, dateTime(2024, 11, 3, 2, 0, 0),
       localSeconds(dateTime(2024, 11, 3, 7, 0, 0))},
      {"day after the repeat", newYork2024, date(2024, 11, 4), localSeconds(dateTime(2024, 11, 4, 5, 0, 0))},
      {"skipped midnight", midnightChange, date(2024, 6, 1), localSeconds(date(2024, 6, 1))},
      {"midnight before the skip", midnightChange, date(2024, 5, 31), localSeconds(date(2024, 5, 31))},
      {"midnight after the skip", midnightChange, date(2024, 6, 2), localSeconds(dateTime(2024, 6, 1, 23, 0, 0))},
      {"fixed half-hour offset", fixedIndia, dateTime(2024, 3, 5, 20, 0, 0),
       localSeconds(dateTime(2024, 3, 5, 14, 30, 0))},
  };
  for (const auto& c : cases) EXPECT_EQ(utcSecondsFromLocal(localSeconds(c.reading), c.zone), c.utc) << c.what;
}

// Show that a due date's fields name a reading only when every one of them is
// in its range: nothing rolls over into the next minute, day or month.
TEST(LocalTime, FieldsNameAReadingOnlyInRange) {
  struct Case {
    const char* what;
    std::int64_t year, month, day, hour, minute, second;
    std::optional<Reading> reading;
  };
  const std::vector<Case> cases = {
      {"ordinary", 2024, 3, 5, 16, 30, 0, dateTime(2024, 3, 5, 16, 30, 0)},
      {"last second of a day", 2024, 12, 31, 23, 59, 59, dateTime(2024, 12, 31, 23, 59, 59)},
      {"leap day", 2024, 2, 29, 0, 0, 0, date(2024, 2, 29)},
      {"no leap day in 1900", 1900, 2, 29, 0, 0, 0, std::nullopt},
      {"leap day in 2000", 2000, 2, 29, 0, 0, 0, date(2000, 2, 29)},
      {"month 0", 2024, 0, 1, 0, 0, 0, std::nullopt},
      {"month 13", 2024, 13, 1, 0, 0, 0, std::nullopt},
      {"day 0", 2024, 1, 0, 0, 0, 0, std::nullopt},
      {"31 April", 2024, 4, 31, 0, 0, 0, std::nullopt},
      {"hour 24", 2024, 1, 1, 24, 0, 0, std::nullopt},
      {"minute 60", 2024, 1, 1, 0, 60, 0, std::nullopt},
      {"leap second", 2016, 12, 31, 23, 59, 60, std::nullopt},
      {"negative hour", 2024, 1, 1, -1, 0, 0, std::nullopt},
      {"year 0", 0, 1, 1, 0, 0, 0, date(0, 1, 1)},
      {"largest year", largestYear, 12, 31, 0, 0, 0, date(largestYear, 12, 31)},
      {"beyond the largest year", largestYear + 1, 1, 1, 0, 0, 0, std::nullopt},
      {"earliest year", -largestYear, 1, 1, 0, 0, 0, date(-largestYear, 1, 1)},
      {"before the earliest year", -largestYear - 1, 1, 1, 0, 0, 0, std::nullopt},
      {"a month past any int", 2024, (std::int64_t{1} << 32) + 1, 1, 0, 0, 0, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(checkedReading(c.year, c.month, c.day, c.hour, c.minute, c.second), c.reading) << c.what;
  }
}

}  // namespace
}  // namespace pimbridge::calendar
