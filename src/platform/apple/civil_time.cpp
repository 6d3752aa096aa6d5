// Due-date fields to a Gregorian reading, and a zone's reading to a moment.
#include "platform/apple/civil_time.hpp"

#include "calendar/civil_date.hpp"

namespace pimbridge::apple {
namespace {

constexpr std::int64_t kSecondsPerDay = calendar::secondsPerDay;

bool inRange(std::int64_t value, std::int64_t low, std::int64_t high) {
  return value >= low && value <= high;
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
  if (!calendar::isValidDate(year, month, *fields.day)) return std::nullopt;
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
  return calendar::daysFromCivil(calendar::CivilDate{time.year, time.month, time.day}) * kSecondsPerDay +
         time.hour * 3'600 + time.minute * 60 + time.second;
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
