// The raw authorization states of macOS's stores, over the whole signed
// 64-bit range, as the words the tool reports for them.
#include "platform/macos_authorization.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "permissions/status.hpp"

namespace pimbridge::macos {
namespace {

TEST(StatusWords, BothMappings) {
  struct Row {
    std::int64_t raw;
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
      {std::numeric_limits<std::int64_t>::min(), "unknown", "unknown"},
      {std::numeric_limits<std::int64_t>::max(), "unknown", "unknown"},
      {0x100000003LL, "unknown", "unknown"},  // not 3 in its low bits either
  };
  for (const auto& row : rows) {
    EXPECT_EQ(permissions::statusWord(reminderStatus(row.raw)), row.reminders) << row.raw;
    EXPECT_EQ(permissions::statusWord(contactsStatus(row.raw)), row.contacts) << row.raw;
  }
}

}  // namespace
}  // namespace pimbridge::macos
