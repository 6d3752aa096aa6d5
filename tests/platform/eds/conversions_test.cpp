// The EDS backend's pure rules: due dates by how DUE is written, task
// identifiers, vCard values, and the local zone following TZ.
#include "platform/eds/conversions.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace pimbridge::eds {
namespace {

std::optional<std::int64_t> seconds(const std::optional<stores::PointInTime>& moment) {
  if (!moment) return std::nullopt;
  return static_cast<std::int64_t>(moment->time_since_epoch().count());
}

constexpr std::int64_t kHour = 3'600;
// 2024-03-05T16:30:00 read as UTC.
constexpr std::int64_t reading = 1'709'656'200;

// Show each form of DUE resolved: UTC as it is, zoned in its zone (none when
// the zone is unknown), floating and date-only in the local zone, a date at
// its midnight whatever time fields it carries, and impossible readings none.
TEST(EdsDue, FormsResolveToMoments) {
  const calendar::UtcOffsetAt plusTwo = [](std::int64_t) { return 2 * kHour; };
  const calendar::UtcOffsetAt minusFive = [](std::int64_t) { return -5 * kHour; };
  struct Row {
    const char* what;
    DueReading due;
    const calendar::UtcOffsetAt* zone;
    std::optional<std::int64_t> utc;
  };
  const Row rows[] = {
      {"utc", {{2024, 3, 5, 16, 30, 0}, DueForm::utc}, nullptr, reading},
      {"utc ignores the zones", {{2024, 3, 5, 16, 30, 0}, DueForm::utc}, &plusTwo, reading},
      {"zoned", {{2024, 3, 5, 16, 30, 0}, DueForm::zoned}, &plusTwo, reading - 2 * kHour},
      {"zone unknown", {{2024, 3, 5, 16, 30, 0}, DueForm::zoned}, nullptr, std::nullopt},
      {"floating is local", {{2024, 3, 5, 16, 30, 0}, DueForm::floating}, &plusTwo, reading + 5 * kHour},
      {"date at local midnight",
       {{2024, 3, 5, 16, 30, 0}, DueForm::date},
       nullptr,
       reading - 16 * kHour - 30 * 60 + 5 * kHour},
      {"seconds kept", {{2024, 3, 5, 16, 30, 59}, DueForm::utc}, nullptr, reading + 59},
      {"year one", {{1, 1, 1, 0, 0, 0}, DueForm::utc}, nullptr, -62'135'596'800},
      {"no such day", {{2023, 2, 29, 0, 0, 0}, DueForm::date}, nullptr, std::nullopt},
      {"no such month", {{2024, 13, 1, 0, 0, 0}, DueForm::utc}, nullptr, std::nullopt},
      {"no such hour", {{2024, 3, 5, 24, 0, 0}, DueForm::floating}, nullptr, std::nullopt},
      {"leap second", {{2024, 3, 5, 23, 59, 60}, DueForm::utc}, nullptr, std::nullopt},
      {"absurd year", {{5'000'000, 1, 1, 0, 0, 0}, DueForm::utc}, nullptr, std::nullopt},
  };
  for (const auto& row : rows) EXPECT_EQ(seconds(dueMoment(row.due, row.zone, minusFive)), row.utc) << row.what;
}

// Show that the local zone follows TZ, with its summer time, for floating
// and date-only due dates.
TEST(EdsDue, LocalZoneFollowsTz) {
  const char* before = std::getenv("TZ");
  const std::string saved = before != nullptr ? before : "";
  struct Row {
    const char* tz;
    std::int64_t winter;  // offset on 2024-01-15
    std::int64_t summer;  // offset on 2024-07-01
  };
  for (const Row& row : {Row{"America/New_York", -5 * kHour, -4 * kHour}, Row{"Asia/Kolkata", 19'800, 19'800},
                         Row{"UTC", 0, 0}, Row{"Europe/Berlin", kHour, 2 * kHour}}) {
    ::setenv("TZ", row.tz, 1);
    ::tzset();
    const auto local = localZone();
    EXPECT_EQ(local(1'705'320'000), row.winter) << row.tz;
    EXPECT_EQ(local(1'719'835'200), row.summer) << row.tz;
    EXPECT_EQ(seconds(dueMoment({{2024, 7, 1, 0, 0, 0}, DueForm::date}, nullptr, local)), 1'719'792'000 - row.summer)
        << row.tz;
  }
  if (before != nullptr) {
    ::setenv("TZ", saved.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
}

TEST(EdsRows, IdentifiersAndValues) {
  EXPECT_EQ(taskIdentifier("t1@example.org", ""), "t1@example.org");
  EXPECT_EQ(taskIdentifier("t1@example.org", "20240108T090000Z"), "t1@example.org#20240108T090000Z");
  EXPECT_EQ(joinedValues({}), "");
  EXPECT_EQ(joinedValues({""}), "");
  EXPECT_EQ(joinedValues({"12", "34"}), "12;34");
  EXPECT_EQ(joinedValues({"", ""}), ";");
}

}  // namespace
}  // namespace pimbridge::eds
