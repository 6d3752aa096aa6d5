// Gregorian date arithmetic and zone resolution for due dates.
#include "platform/apple/civil_time.hpp"

namespace pimbridge::apple {
namespace {

constexpr std::int64_t kSecondsPerDay = 86'400;

bool isLeapYear(std::int64_t year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

std::int64_t daysInMonth(std::int64_t year, std::int64_t month) {
  constexpr std::int64_t days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

bool inRange(std::int64_t value, std::int64_t low, std::int64_t high) {
  return value >= low && value <= high;
}

// Days from 1970-01-01 to a proleptic Gregorian date, counted in 400-year
// cycles of 146097 days with the year starting in March, so that the leap day
// falls at the end of the counted year.
std::int64_t daysSinceEpoch(std::int64_t year, std::int64_t month, std::int64_t day) {
  const std::int64_t marchYear = month <= 2 ? year - 1 : year;
  const std::int64_t cycle = (marchYear >= 0 ? marchYear : marchYear - 399) / 400;
  const std::int64_t yearOfCycle = marchYear - cycle * 400;
  const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const std::int64_t dayOfCycle = yearOfCycle * 365 + yearOfCycle / 4 - yearOfCycle / 100 + dayOfYear;
  return cycle * 146'097 + dayOfCycle - 719'468;
}

}  // namespace

std::optional<CivilDateTime> gregorianDateTime(const DateFields& fields) {
  if (!fields.year || !fields.month || !fields.day) return std::nullopt;

  const std::int64_t era = fields.era.value_or(kEraAnnoDomini);
  const std::int64_t yearOfEra = *fields.year;
  if ((era != kEraBeforeChrist && era != kEraAnnoDomini) || !inRange(yearOfEra, 1, kLargestYear)) {
    return std::nullopt;
  }
  const std::int64_t year = era == kEraAnnoDomini ? yearOfEra : 1 - yearOfEra;

  const std::int64_t month = *fields.month;
  if (!inRange(month, 1, 12) || !inRange(*fields.day, 1, daysInMonth(year, month))) {
    return std::nullopt;
  }
  const std::int64_t hour = fields.hour.value_or(0);
  const std::int64_t minute = fields.minute.value_or(0);
  const std::int64_t second = fields.second.value_or(0);
  if (!inRange(hour, 0, 23) || !inRange(minute, 0, 59) || !inRange(second, 0, 59)) {
    return std::nullopt;
  }
  return CivilDateTime{year,
                       static_cast<int>(month),
                       static_cast<int>(*fields.day),
                       static_cast<int>(hour),
                       static_cast<int>(minute),
                       static_cast<int>(second)};
}

std::int64_t secondsSinceEpoch(const CivilDateTime& time) {
  return daysSinceEpoch(time.year, time.month, time.day) * kSecondsPerDay + time.hour * 3'600 + time.minute * 60 +
         time.second;
}

std::int64_t utcSecondsFromLocal(std::int64_t localSeconds, const UtcOffsetAt& offsetAt) {
  // A day on either side is further than any offset reaches, so these are the
  // offsets before and after any change that could touch the reading.
  const std::int64_t before = offsetAt(localSeconds - kSecondsPerDay);
  const std::int64_t after = offsetAt(localSeconds + kSecondsPerDay);

  if (offsetAt(localSeconds - before) == before) return localSeconds - before;
  if (offsetAt(localSeconds - after) == after) return localSeconds - after;
  // Neither offset shows the reading: the clock skipped it.
  return localSeconds - before;
}

}  // namespace pimbridge::apple
