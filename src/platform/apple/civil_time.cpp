// Due-date fields to a Gregorian reading.
#include "platform/apple/civil_time.hpp"

#include "calendar/civil_date.hpp"
#include "calendar/local_time.hpp"

namespace pimbridge::apple {
namespace {

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
  return calendar::readingSeconds(time.year, time.month, time.day, time.hour, time.minute, time.second);
}

}  // namespace pimbridge::apple
