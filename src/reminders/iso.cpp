#include "reminders/iso.hpp"

#include <cmath>
#include <cstdint>

#include "calendar/civil_date.hpp"

namespace pimbridge::reminders {

namespace {

// 0001-01-01T00:00:00Z and 9999-12-31T23:59:59Z in seconds since 1970.
constexpr double earliest = -62135596800.0;
constexpr double latest = 253402300799.0;

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
  const std::int64_t days = (whole >= 0 ? whole : whole - (calendar::secondsPerDay - 1)) / calendar::secondsPerDay;
  const auto secondOfDay = static_cast<unsigned>(whole - days * calendar::secondsPerDay);
  const calendar::CivilDate date = calendar::civilFromDays(days);

  std::string text(20, '\0');
  char* p = text.data();
  digits(p, static_cast<unsigned>(date.year), 4);
  p[4] = '-';
  digits(p + 5, static_cast<unsigned>(date.month), 2);
  p[7] = '-';
  digits(p + 8, static_cast<unsigned>(date.day), 2);
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
