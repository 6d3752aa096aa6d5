// Days to and from civil dates, counted in 400-year cycles of 146,097 days
// whose years start in March, so that a leap day falls at the end of the
// counted year and needs no special case.
#include "calendar/civil_date.hpp"

namespace pimbridge::calendar {

namespace {

constexpr std::int64_t daysPerCycle = 146'097;
// Days from 0000-03-01 to 1970-01-01.
constexpr std::int64_t epochShift = 719'468;

}  // namespace

std::int64_t daysFromCivil(const CivilDate& date) {
  const std::int64_t marchYear = date.month <= 2 ? date.year - 1 : date.year;
  const std::int64_t cycle = (marchYear >= 0 ? marchYear : marchYear - 399) / 400;
  const std::int64_t yearOfCycle = marchYear - cycle * 400;
  const std::int64_t dayOfYear = (153 * (date.month > 2 ? date.month - 3 : date.month + 9) + 2) / 5 + date.day - 1;
  const std::int64_t dayOfCycle = yearOfCycle * 365 + yearOfCycle / 4 - yearOfCycle / 100 + dayOfYear;
  return cycle * daysPerCycle + dayOfCycle - epochShift;
}

CivilDate civilFromDays(std::int64_t days) {
  days += epochShift;
  const std::int64_t cycle = (days >= 0 ? days : days - (daysPerCycle - 1)) / daysPerCycle;
  const std::int64_t dayOfCycle = days - cycle * daysPerCycle;
  const std::int64_t yearOfCycle = (dayOfCycle - dayOfCycle / 1460 + dayOfCycle / 36524 - dayOfCycle / 146096) / 365;
  const std::int64_t dayOfYear = dayOfCycle - (365 * yearOfCycle + yearOfCycle / 4 - yearOfCycle / 100);
  const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  const int month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  return CivilDate{yearOfCycle + cycle * 400 + (month <= 2 ? 1 : 0), month, day};
}

}  // namespace pimbridge::calendar
