// A clock reading in some time zone, turned into the moment it denotes. The
// platform supplies the zone as a function from a moment to its offset, so
// the same rules apply whichever system the zone comes from.
#pragma once

#include <cstdint>
#include <functional>

namespace pimbridge::calendar {

// A zone as the platform knows it: its offset from UTC, in seconds east, at a
// moment given in seconds since 1970-01-01T00:00:00Z.
using UtcOffsetAt = std::function<std::int64_t(std::int64_t utcSeconds)>;

// The seconds from 1970-01-01 00:00:00 to a wall-clock reading, both read off
// the same clock: the reading taken as if it were UTC.
std::int64_t readingSeconds(std::int64_t year, int month, int day, int hour, int minute, int second);

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
