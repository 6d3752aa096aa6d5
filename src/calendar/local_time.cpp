// Wall-clock readings of a zone to moments.
#include "calendar/local_time.hpp"

#include "calendar/civil_date.hpp"

namespace pimbridge::calendar {

std::int64_t readingSeconds(std::int64_t year, int month, int day, int hour, int minute, int second) {
  return daysFromCivil(CivilDate{year, month, day}) * secondsPerDay + hour * 3'600 + minute * 60 + second;
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
