// Display names and the keyed coding of a contact row.
#include "contacts/contact_row.hpp"

#include <gtest/gtest.h>

namespace pimbridge::contacts {
namespace {

using answer::ResultMap;

TEST(DisplayName, Parts) {
  struct Row {
    std::string_view given, family, name;
  };
  const Row rows[] = {{"Ada", "Lovelace", "Ada Lovelace"},
                      {"Ada", "", "Ada"},
                      {"", "Lovelace", "Lovelace"},
                      {"", "", ""},
                      {" ", "Doe", "  Doe"},
                      {"Jo ", " Ann", "Jo   Ann"}};
  for (const auto& row : rows) EXPECT_EQ(displayName(row.given, row.family), row.name);
}

TEST(ContactRowCoding, RoundTrips) {
  for (const auto& row :
       {ContactRow("c/1", "Ada Lovelace", {"+1", "", "+1"}, {"a@example.org"}), ContactRow("", "", {}, {})}) {
    ResultMap map;
    ASSERT_TRUE(row.encode(map, map.top()));
    EXPECT_EQ(ContactRow::decode(map, map.top()), row);
  }
}

TEST(ContactRowCoding, DecodeFailsOnMissingOrMistyped) {
  const std::function<void(ResultMap&)> faults[] = {
      [](ResultMap& m) { m.setNull("id"); },           [](ResultMap& m) { m.setTextList("name"); },
      [](ResultMap& m) { m.setText("phones", "+1"); }, [](ResultMap& m) { m.setNull("emails"); },
      [](ResultMap& m) { m.setMapList("emails"); },
  };
  for (const auto& fault : faults) {
    ResultMap map;
    ContactRow("1", "n", {"p"}, {"e"}).encode(map, map.top());
    fault(map);
    EXPECT_FALSE(ContactRow::decode(map, map.top()));
  }
  ResultMap missing;
  missing.setText("id", "1");
  missing.setText("name", "n");
  missing.setTextList("phones");
  EXPECT_FALSE(ContactRow::decode(missing, missing.top()));
}

TEST(ContactRowCoding, KeyLookup) {
  for (const char* key : {"id", "name", "phones", "emails"}) {
    const auto found = ContactRow::codingKey(key);
    ASSERT_TRUE(found) << key;
    EXPECT_EQ(ContactRow::keyText(*found), key);
  }
  for (const char* other : {"", "Name", "phone", "title"}) EXPECT_FALSE(ContactRow::codingKey(other));
  for (int i : {0, 3}) EXPECT_FALSE(ContactRow::codingKey(i));
}

}  // namespace
}  // namespace pimbridge::contacts
