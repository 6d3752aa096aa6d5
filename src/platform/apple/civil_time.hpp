// A reminder's due-date fields, as date components carry them, read as a
// Gregorian wall-clock reading. Plain C++, so that it can be checked on any
// system; the shared calendar code resolves the reading in a zone.
#pragma once

#include <cstdint>
#include <optional>

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

// A wall-clock reading in the proleptic Gregorian calendar. The year counts
// astronomically: 1 BC is year 0, 2 BC year -1.
struct CivilDateTime {
  std::int64_t year = 1970;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;

  friend bool operator==(const CivilDateTime&, const CivilDateTime&) = default;
};

// Gregorian eras as date components number them.
inline constexpr std::int64_t kEraBeforeChrist = 0;
inline constexpr std::int64_t kEraAnnoDomini = 1;

// Years beyond this, in either era, are refused; it keeps every count of
// seconds exact in a double.
inline constexpr std::int64_t kLargestYear = 100'000'000;

// The Gregorian reading that the fields name. None when year, month or day is
// unset, or when any field is out of its range (there is no rolling over from
// 13 months or 30 February). An unset era means AD; an unset hour, minute or
// second counts as 0, so a date without a time of day means its midnight.
std::optional<CivilDateTime> gregorianDateTime(const DateFields& fields);

// The seconds from 1970-01-01 00:00:00 to the reading, both read off the same
// clock: the reading taken as if it were UTC (calendar::readingSeconds), as
// calendar::utcSecondsFromLocal takes it to resolve the reading in a zone.
std::int64_t secondsSinceEpoch(const CivilDateTime& time);

}  // namespace pimbridge::apple
