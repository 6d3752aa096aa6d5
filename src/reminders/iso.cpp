#include "reminders/iso.hpp"

#include <cmath>
#include <cstdint>

namespace pimbridge::reminders {

namespace {

// 0001-01-01T00:00:00Z and 9999-12-31T23:59:59Z in seconds since 1970.
constexpr double earliest = -62135596800.0;
constexpr double latest = 253402300799.0;

struct CivilDate {
  std::int64_t year;
  unsigned month;
  unsigned day;
};

// Days since 1970-01-01 to a date of the proleptic Gregorian calendar.
CivilDate civilFromDays(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
  const unsigned day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  const unsigned month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  const std::int64_t year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
  return {year, month, day};
}

void digits(char* out, unsigned value, int count) {
  for (int i = count - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

}  // namespace

std::optional<std::string> iso(const std::optional<stores::PointInTime>& time) {
  if (!time) return std::nullopt;
  const double seconds = std::floor(time->time_since_epoch().count());
  if (!(seconds >= earliest && seconds <= latest)) return std::nullopt;  // also NaN
  const auto whole = static_cast<std::int64_t>(seconds);
  const std::int64_t days = (whole >= 0 ? whole : whole - 86399) / 86400;
  const auto secondOfDay = static_cast<unsigned>(whole - days * 86400);
  const CivilDate date = civilFromDays(days);

  std::string text(20, '\0');
  char* p = text.data();
  digits(p, static_cast<unsigned>(date.year), 4);
  p[4] = '-';
  digits(p + 5, date.month, 2);
  p[7] = '-';
  digits(p + 8, date.day, 2);
  p[10] = 'T';
  digits(p + 11, secondOfDay / 3600, 2);
  p[13] = ':';
  digits(p + 14, secondOfDay / 60 % 60, 2);
  p[16] = ':';
  digits(p + 17, secondOfDay % 60, 2);
  p[19] = 'Z';
  return text;
}

}  // namespace pimbridge::reminders
