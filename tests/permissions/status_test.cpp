// Status words over the whole signed 64-bit range.
#include "permissions/status.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace pimbridge::permissions {
namespace {

TEST(StatusWords, BothMappings) {
  struct Row {
    stores::RawStatus raw;
    std::string_view reminders;
    std::string_view contacts;
  };
  const Row rows[] = {
      {0, "not_determined", "not_determined"},
      {1, "restricted", "restricted"},
      {2, "denied", "denied"},
      {3, "authorized", "authorized"},
      {4, "write_only", "limited"},
      {5, "unknown", "unknown"},
      {-1, "unknown", "unknown"},
      {std::numeric_limits<stores::RawStatus>::min(), "unknown", "unknown"},
      {std::numeric_limits<stores::RawStatus>::max(), "unknown", "unknown"},
      {0x100000003LL, "unknown", "unknown"},  // not 3 in its low bits either
  };
  for (const auto& row : rows) {
    EXPECT_EQ(reminderStatus(row.raw), row.reminders) << row.raw;
    EXPECT_EQ(contactsStatus(row.raw), row.contacts) << row.raw;
  }
}

}  // namespace
}  // namespace pimbridge::permissions
