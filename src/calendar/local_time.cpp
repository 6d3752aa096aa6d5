// Wall-clock readings of a zone to moments.
#include "calendar/local_time.hpp"

#include "calendar/civil_date.hpp"

namespace pimbridge::calendar {

namespace {

bool inRange(std::int64_t value, std::int64_t low, std::int64_t high) {
  return value >= low && value <= high;
}

}  // namespace

std::optional<Reading> checkedReading(std::int64_t year, std::int64_t month, std::int64_t day, std::int64_t hour,
                                      std::int64_t minute, std::int64_t second) {
  if (!inRange(year, -largestYear, largestYear) || !isValidDate(year, month, day)) return std::nullopt;
  if (!inRange(hour, 0, 23) || !inRange(minute, 0, 59) || !inRange(second, 0, 59)) return std::nullopt;
  return Reading{year,
                 static_cast<int>(month),
                 static_cast<int>(day),
                 static_cast<int>(hour),
                 static_cast<int>(minute),
                 static_cast<int>(second)};
}

std::int64_t readingSeconds(const Reading& r) {
  return daysFromCivil(CivilDate{r.year, r.month, r.day}) * secondsPerDay + r.hour * 3'600 + r.minute * 60 + r.second;
}

std::int64_t utcSecondsFromLocal(std::int64_t localSeconds, const UtcOffsetAt& offsetAt) {
  // A day on either side is further than any offset reaches, so these are the
  // offsets before and after any change that could touch the reading.
  const std::int64_t before = offsetAt(localSeconds - secondsPerDay);
  const std::int64_t after = offsetAt(localSeconds + secondsPerDay);

  if (offsetAt(localSeconds - before) == before) return localSeconds - before;
  if (offsetAt(localSeconds - after) == after) return localSeconds - after;
  // Neither offset shows the reading: the clock skipped it.
  return localSeconds - before;
}

}  // namespace pimbridge::calendar
