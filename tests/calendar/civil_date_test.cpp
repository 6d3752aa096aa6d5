// Gregorian day counts, checked against known dates and against each other
// over a long run of consecutive days.
#include "calendar/civil_date.hpp"

#include <gtest/gtest.h>

namespace pimbridge::calendar {
namespace {

TEST(CivilDate, KnownDays) {
  struct Row {
    CivilDate date;
    std::int64_t days;
  };
  const Row rows[] = {
      {{1970, 1, 1}, 0},       {{1969, 12, 31}, -1},      {{2000, 2, 29}, 11016},   {{2000, 3, 1}, 11017},
      {{2024, 3, 5}, 19787},   {{1, 1, 1}, -719162},      {{0, 3, 1}, -719468},     {{0, 2, 29}, -719469},
      {{-1, 12, 31}, -719529}, {{9999, 12, 31}, 2932896}, {{1600, 2, 29}, -135081}, {{2100, 3, 1}, 47541},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(daysFromCivil(row.date), row.days) << row.date.year << "-" << row.date.month << "-" << row.date.day;
    EXPECT_EQ(civilFromDays(row.days), row.date) << row.days;
  }
}

// Show that walking day by day from 2001 BC to AD 4000 moves the date by
// exactly one day each time, through every month end and leap day, and that
// both directions agree on every day.
TEST(CivilDate, ConsecutiveDaysAgree) {
  CivilDate date{-2000, 1, 1};
  for (std::int64_t days = daysFromCivil(date); date.year < 4000; ++days) {
    ASSERT_EQ(civilFromDays(days), date) << days;
    ASSERT_EQ(daysFromCivil(date), days);
    ASSERT_TRUE(isValidDate(date.year, date.month, date.day));
    if (date.day < daysInMonth(date.year, date.month)) {
      ++date.day;
    } else if (date.month < 12) {
      date = {date.year, date.month + 1, 1};
    } else {
      date = {date.year + 1, 1, 1};
    }
  }
}

TEST(CivilDate, MonthLengthsAndValidity) {
  EXPECT_EQ(daysInMonth(1900, 2), 28);  // a century that is not a leap year
  EXPECT_EQ(daysInMonth(2000, 2), 29);  // one that is
  EXPECT_EQ(daysInMonth(2024, 2), 29);
  EXPECT_EQ(daysInMonth(-4, 2), 29);  // 5 BC
  EXPECT_EQ(daysInMonth(2023, 4), 30);
  EXPECT_EQ(daysInMonth(2023, 12), 31);
  EXPECT_FALSE(isValidDate(2023, 2, 29));
  EXPECT_FALSE(isValidDate(2024, 0, 1));
  EXPECT_FALSE(isValidDate(2024, 13, 1));
  EXPECT_FALSE(isValidDate(2024, 4, 31));
  EXPECT_FALSE(isValidDate(2024, 1, 0));
  EXPECT_TRUE(isValidDate(2024, 2, 29));
}

}  // namespace
}  // namespace pimbridge::calendar
