// The due-date arithmetic of the macOS layer: Gregorian fields to seconds.
#include "platform/apple/civil_time.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace pimbridge::apple {
namespace {

DateFields date(std::int64_t year, std::int64_t month, std::int64_t day) {
  DateFields fields;
  fields.year = year;
  fields.month = month;
  fields.day = day;
  return fields;
}

DateFields dateTime(std::int64_t year, std::int64_t month, std::int64_t day, std::int64_t hour, std::int64_t minute,
                    std::int64_t second) {
  DateFields fields = date(year, month, day);
  fields.hour = hour;
  fields.minute = minute;
  fields.second = second;
  return fields;
}

DateFields withEra(DateFields fields, std::int64_t era) {
  fields.era = era;
  return fields;
}

std::int64_t localSeconds(const DateFields& fields) {
  return calendar::readingSeconds(gregorianDateTime(fields).value());
}

TEST(CivilTime, FieldsNameAReadingOrNone) {
  struct Case {
    const char* what;
    DateFields fields;
    std::optional<calendar::Reading> reading;
  };
  DateFields noYear = date(2024, 3, 5);
  noYear.year.reset();
  DateFields noMonth = date(2024, 3, 5);
  noMonth.month.reset();
  DateFields noDay = date(2024, 3, 5);
  noDay.day.reset();
  DateFields hourOnly = date(2024, 3, 5);
  hourOnly.hour = 9;

  const std::vector<Case> cases = {
      {"date alone is midnight", date(2024, 3, 5), calendar::Reading{2024, 3, 5, 0, 0, 0}},
      {"unset minute and second are 0", hourOnly, calendar::Reading{2024, 3, 5, 9, 0, 0}},
      {"full reading", dateTime(2024, 12, 31, 23, 59, 59), calendar::Reading{2024, 12, 31, 23, 59, 59}},
      {"AD era", withEra(date(2024, 3, 5), kEraAnnoDomini), calendar::Reading{2024, 3, 5, 0, 0, 0}},
      {"1 BC is year 0", withEra(date(1, 1, 1), kEraBeforeChrist), calendar::Reading{0, 1, 1, 0, 0, 0}},
      {"44 BC is year -43", withEra(date(44, 3, 15), kEraBeforeChrist), calendar::Reading{-43, 3, 15, 0, 0, 0}},
      {"leap day in a leap year", date(2024, 2, 29), calendar::Reading{2024, 2, 29, 0, 0, 0}},
      {"leap day in a year divisible by 400", date(2000, 2, 29), calendar::Reading{2000, 2, 29, 0, 0, 0}},
      {"no year", noYear, std::nullopt},
      {"no month", noMonth, std::nullopt},
      {"no day", noDay, std::nullopt},
      {"leap day in a common year", date(2023, 2, 29), std::nullopt},
      {"leap day in a century year", date(1900, 2, 29), std::nullopt},
      {"31 April", date(2024, 4, 31), std::nullopt},
      {"month 0", date(2024, 0, 1), std::nullopt},
      {"month 13", date(2024, 13, 1), std::nullopt},
      {"day 0", date(2024, 1, 0), std::nullopt},
      {"hour 24", dateTime(2024, 1, 1, 24, 0, 0), std::nullopt},
      {"minute 60", dateTime(2024, 1, 1, 0, 60, 0), std::nullopt},
      {"leap second", dateTime(2016, 12, 31, 23, 59, 60), std::nullopt},
      {"negative second", dateTime(2024, 1, 1, 0, 0, -1), std::nullopt},
      {"year 0 within an era", date(0, 1, 1), std::nullopt},
      {"unknown era", withEra(date(2024, 1, 1), 2), std::nullopt},
      {"year beyond the largest", date(calendar::largestYear + 1, 1, 1), std::nullopt},
      // An unset field arrives as the largest integer from the platform; it must never pass as a value.
      {"huge day", date(2024, 1, INT64_MAX), std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(gregorianDateTime(c.fields), c.reading) << c.what;
}

TEST(CivilTime, KnownReadingsGiveTheirSeconds) {
  struct Case {
    DateFields fields;
    std::int64_t seconds;
  };
  const std::vector<Case> cases = {
      {date(1970, 1, 1), 0},
      {dateTime(1969, 12, 31, 23, 59, 59), -1},
      {dateTime(2024, 3, 5, 14, 30, 0), 1'709'649'000},
      {date(2000, 3, 1), 951'868'800},
      {dateTime(2038, 1, 19, 3, 14, 8), 2'147'483'648},
      {withEra(date(1, 1, 1), kEraAnnoDomini), -62'135'596'800},
      {withEra(date(1, 12, 31), kEraBeforeChrist), -62'135'683'200},
  };
  for (const auto& c : cases) EXPECT_EQ(localSeconds(c.fields), c.seconds);
}

// Show that every day agrees with the standard library's own calendar over
// a wide span, leap years and negative years included.
TEST(CivilTime, DaysAgreeWithTheStandardCalendar) {
  using namespace std::chrono;
  for (sys_days day = sys_days{year{-2000} / January / 1}; day <= sys_days{year{3000} / December / 31};
       day += days{1}) {
    const year_month_day ymd{day};
    const calendar::Reading reading{static_cast<int>(ymd.year()),
                                    static_cast<int>(static_cast<unsigned>(ymd.month())),
                                    static_cast<int>(static_cast<unsigned>(ymd.day())),
                                    0,
                                    0,
                                    0};
    ASSERT_EQ(calendar::readingSeconds(reading), day.time_since_epoch().count() * 86'400)
        << static_cast<int>(ymd.year()) << "-" << static_cast<unsigned>(ymd.month()) << "-"
        << static_cast<unsigned>(ymd.day());
  }
}

}  // namespace
}  // namespace pimbridge::apple
