// A clock reading in some time zone, turned into the moment it denotes. The
// platform supplies the zone as a function from a moment to its offset, so
// the same rules apply whichever system the zone comes from.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace pimbridge::calendar {

// A wall-clock reading in the proleptic Gregorian calendar: a date and a time
// of day, in no zone yet. The year counts astronomically: 1 BC is year 0.
struct Reading {
  std::int64_t year = 1970;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;

  friend bool operator==(const Reading&, const Reading&) = default;
};

// Years beyond this, on either side of year 0, are refused: it keeps every
// count of seconds exact in a double and far from overflowing.
inline constexpr std::int64_t largestYear = 1'000'000;

// The reading that the fields name, the one check of a due date's fields
// that every platform uses. None when the month does not exist, the day does
// not exist in that month (there is no rolling over from 13 months or
// 30 February), the time of day is outside 00:00:00 to 23:59:59, or the year
// lies beyond largestYear.
std::optional<Reading> checkedReading(std::int64_t year, std::int64_t month, std::int64_t day, std::int64_t hour,
                                      std::int64_t minute, std::int64_t second);

// A zone as the platform knows it: its offset from UTC, in seconds east, at a
// moment given in seconds since 1970-01-01T00:00:00Z.
using UtcOffsetAt = std::function<std::int64_t(std::int64_t utcSeconds)>;

// The seconds from 1970-01-01 00:00:00 to a wall-clock reading, both read off
// the same clock: the reading taken as if it were UTC.
std::int64_t readingSeconds(const Reading& reading);

// The moment, in seconds since 1970-01-01T00:00:00Z, at which the zone's
// clock shows the reading `localSeconds` (as readingSeconds gives it).
// Around a change of offset the reading is taken with the offset in force
// before the change: a reading that the clock shows twice means its first
// showing, and a reading that the clock skips lands as far after the change
// as it lies after the last reading shown before it (02:30 in a skipped hour
// from 02:00 to 03:00 is 03:30). Assumes at most one change of offset within
// a day of the reading.
std::int64_t utcSecondsFromLocal(std::int64_t localSeconds, const UtcOffsetAt& offsetAt);

}  // namespace pimbridge::calendar
