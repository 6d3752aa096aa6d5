// Dates as ISO 8601 text in UTC.
#include "reminders/iso.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace pimbridge::reminders {
namespace {

std::optional<std::string> at(double seconds) {
  return iso(stores::PointInTime(std::chrono::duration<double>(seconds)));
}

TEST(Iso, Texts) {
  struct Row {
    double seconds;
    std::optional<std::string> text;
  };
  const Row rows[] = {
      {0, "1970-01-01T00:00:00Z"},
      {1709649000, "2024-03-05T14:30:00Z"},
      {1709649000.999, "2024-03-05T14:30:00Z"},  // sub-second parts are cut off
      {-0.5, "1969-12-31T23:59:59Z"},            // towards the earlier second
      {951782400, "2000-02-29T00:00:00Z"},
      {4107542400, "2100-03-01T00:00:00Z"},
      {-62135596800, "0001-01-01T00:00:00Z"},
      {253402300799, "9999-12-31T23:59:59Z"},
      {253402300799.9, "9999-12-31T23:59:59Z"},
      {-62135596801, std::nullopt},  // the year 0
      {253402300800, std::nullopt},  // the year 10000
      {std::nan(""), std::nullopt},
      {std::numeric_limits<double>::infinity(), std::nullopt},
      {-std::numeric_limits<double>::infinity(), std::nullopt},
  };
  for (const auto& row : rows) EXPECT_EQ(at(row.seconds), row.text) << row.seconds;
  EXPECT_EQ(iso(std::nullopt), std::nullopt);
}

}  // namespace
}  // namespace pimbridge::reminders
