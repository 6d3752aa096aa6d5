// The keyed coding of a reminder row.
#include "reminders/reminder_row.hpp"

#include <gtest/gtest.h>

namespace pimbridge::reminders {
namespace {

using answer::ResultMap;

// Show that the encoder writes the row map hosts receive, exactly five keys
// with "due" null rather than missing when there is no due date, and that
// decoding gives the row back.
TEST(ReminderRowCoding, RoundTrips) {
  for (const auto& row : {ReminderRow("x-apple-reminder://1", "Café", "Home", "2024-03-05T14:30:00Z", true),
                          ReminderRow("", "", "", std::nullopt, false)}) {
    ResultMap map;
    ASSERT_TRUE(row.encode(map, map.top()));
    std::vector<std::string_view> keys;
    for (const auto& entry : map.entries(map.top())) keys.push_back(entry.key);
    EXPECT_EQ(keys, (std::vector<std::string_view>{"id", "title", "list", "due", "completed"}));
    const auto due = map.find(map.top(), "due");
    ASSERT_TRUE(due);
    EXPECT_EQ(due->kind(), row.due() ? answer::Kind::text : answer::Kind::null);
    EXPECT_EQ(ReminderRow::decode(map, map.top()), row);
  }
}

// Show that decoding fails on the first missing or mistyped required key, and
// that a null due date means none.
TEST(ReminderRowCoding, DecodeRules) {
  auto full = [] {
    ResultMap map;
    map.setText("id", "1");
    map.setText("title", "t");
    map.setText("list", "L");
    map.setText("due", "2024-01-01T00:00:00Z");
    map.setBoolean("completed", false);
    return map;
  };
  {
    ResultMap map = full();
    map.setNull("due");
    const auto row = ReminderRow::decode(map, map.top());
    ASSERT_TRUE(row);
    EXPECT_EQ(row->due(), std::nullopt);
  }
  {
    ResultMap map = full();
    map.setText("extra", "ignored");
    EXPECT_TRUE(ReminderRow::decode(map, map.top()));
  }
  const std::function<void(ResultMap&)> faults[] = {
      [](ResultMap& m) { m.setNull("id"); },
      [](ResultMap& m) { m.setBoolean("title", true); },
      [](ResultMap& m) { m.setTextList("list"); },
      [](ResultMap& m) { m.setBoolean("due", true); },
      [](ResultMap& m) { m.setText("completed", "true"); },
      [](ResultMap& m) { m.setNull("completed"); },
  };
  for (const auto& fault : faults) {
    ResultMap map = full();
    fault(map);
    EXPECT_FALSE(ReminderRow::decode(map, map.top()));
  }
  ResultMap missing;
  missing.setText("id", "1");
  missing.setText("title", "t");
  missing.setBoolean("completed", true);
  EXPECT_FALSE(ReminderRow::decode(missing, missing.top()));  // no "list"
}

TEST(ReminderRowCoding, KeyLookup) {
  for (const char* key : {"id", "title", "list", "due", "completed"}) {
    const auto found = ReminderRow::codingKey(key);
    ASSERT_TRUE(found) << key;
    EXPECT_EQ(ReminderRow::keyText(*found), key);
  }
  for (const char* other : {"", "ID", "name", "completed ", "dueDate"}) EXPECT_FALSE(ReminderRow::codingKey(other));
  for (int i : {0, 1, 4, -1}) EXPECT_FALSE(ReminderRow::codingKey(i));
}

}  // namespace
}  // namespace pimbridge::reminders
