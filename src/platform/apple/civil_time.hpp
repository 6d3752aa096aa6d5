// A reminder's due-date fields, as date components carry them, read as a
// Gregorian wall-clock reading. Plain C++, so that it can be checked on any
// system; the shared calendar code resolves the reading in a zone.
#pragma once

#include <cstdint>
#include <optional>

#include "calendar/local_time.hpp"

namespace pimbridge::apple {

// The fields that a due date is read from, as date components carry them.
// An unset field is empty.
struct DateFields {
  std::optional<std::int64_t> era;
  std::optional<std::int64_t> year;
  std::optional<std::int64_t> month;
  std::optional<std::int64_t> day;
  std::optional<std::int64_t> hour;
  std::optional<std::int64_t> minute;
  std::optional<std::int64_t> second;
};

// Gregorian eras as date components number them.
inline constexpr std::int64_t kEraBeforeChrist = 0;
inline constexpr std::int64_t kEraAnnoDomini = 1;

// The Gregorian reading that the fields name. None when year, month or day is
// unset, or when any field is out of its range (there is no rolling over from
// 13 months or 30 February). An unset era means AD; an unset hour, minute or
// second counts as 0, so a date without a time of day means its midnight.
// Years of an era beyond calendar::largestYear are refused.
std::optional<calendar::Reading> gregorianDateTime(const DateFields& fields);

}  // namespace pimbridge::apple
