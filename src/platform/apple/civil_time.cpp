// Due-date fields to a Gregorian reading.
#include "platform/apple/civil_time.hpp"

#include "calendar/local_time.hpp"

namespace pimbridge::apple {

std::optional<calendar::Reading> gregorianDateTime(const DateFields& fields) {
  if (!fields.year || !fields.month || !fields.day) return std::nullopt;

  const std::int64_t era = fields.era.value_or(kEraAnnoDomini);
  const std::int64_t yearOfEra = *fields.year;
  if ((era != kEraBeforeChrist && era != kEraAnnoDomini) || yearOfEra < 1 || yearOfEra > calendar::largestYear) {
    return std::nullopt;
  }
  const std::int64_t year = era == kEraAnnoDomini ? yearOfEra : 1 - yearOfEra;
  return calendar::checkedReading(year, *fields.month, *fields.day, fields.hour.value_or(0), fields.minute.value_or(0),
                                  fields.second.value_or(0));
}

}  // namespace pimbridge::apple
