// Proleptic Gregorian calendar arithmetic shared by the date code of the tool
// and of every platform backend: leap years, month lengths, and the count of
// days between a civil date and 1970-01-01. Plain C++, no time zones.
#pragma once

#include <cstdint>

namespace pimbridge::calendar {

// A date of the proleptic Gregorian calendar. The year counts astronomically:
// 1 BC is year 0, 2 BC year -1.
struct CivilDate {
  std::int64_t year = 1970;
  int month = 1;  // 1 to 12
  int day = 1;    // 1 to the month's length

  friend bool operator==(const CivilDate&, const CivilDate&) = default;
};

inline constexpr std::int64_t secondsPerDay = 86'400;

constexpr bool isLeapYear(std::int64_t year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

// The number of days of the month (1 to 12) in that year.
constexpr int daysInMonth(std::int64_t year, int month) {
  constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

// True when the month exists and the day exists in it.
constexpr bool isValidDate(std::int64_t year, std::int64_t month, std::int64_t day) {
  return month >= 1 && month <= 12 && day >= 1 && day <= daysInMonth(year, static_cast<int>(month));
}

// Days from 1970-01-01 to the date, negative before it. The date must be
// valid and its year within a few hundred million years of ours.
std::int64_t daysFromCivil(const CivilDate& date);

// The date that lies this many days after 1970-01-01 (before it when
// negative); the inverse of daysFromCivil.
CivilDate civilFromDays(std::int64_t days);

}  // namespace pimbridge::calendar
