// The simulated platform's world files and its date-components conversion.
#include "platform/simulated/world.hpp"

#include <gtest/gtest.h>

#include "platform/simulated/conversions.hpp"

namespace pimbridge::simulated {
namespace {

double seconds(const std::optional<stores::PointInTime>& t) {
  return t->time_since_epoch().count();
}

TEST(DueConversion, ComponentsToPointsInTime) {
  EXPECT_EQ(seconds(convertDue({2024, 3, 5, 16, 30, std::nullopt, 120})), 1709649000.0);
  EXPECT_EQ(seconds(convertDue({1970, 1, 1, {}, {}, {}, {}})), 0.0);
  EXPECT_EQ(seconds(convertDue({1969, 12, 31, 23, 59, 59, {}})), -1.0);
  EXPECT_EQ(seconds(convertDue({2000, 2, 29, {}, {}, {}, -1080})), 951782400.0 + 18 * 3600);
  EXPECT_EQ(seconds(convertDue({1, 1, 1, {}, {}, {}, {}})), -62135596800.0);
  EXPECT_FALSE(convertDue({1900, 2, 29, {}, {}, {}, {}}));  // not a leap year
  EXPECT_FALSE(convertDue({2024, 0, 1, {}, {}, {}, {}}));
  EXPECT_FALSE(convertDue({2024, 1, 0, {}, {}, {}, {}}));
  EXPECT_FALSE(convertDue({2024, 6, 31, {}, {}, {}, {}}));
  EXPECT_FALSE(convertDue({2024, 1, 1, {}, {}, 60, {}}));
  EXPECT_FALSE(convertDue({2024, 1, 1, {}, {}, {}, -1081}));
  EXPECT_FALSE(convertDue({std::numeric_limits<std::int64_t>::max(), 1, 1, {}, {}, {}, {}}));
  EXPECT_FALSE(convertDue({{}, 1, 1, {}, {}, {}, {}}));
}

TEST(WorldFile, DefaultsAndHexTexts) {
  const World empty = parseWorld("{}");
  EXPECT_EQ(empty.osVersion.major, 14);
  EXPECT_EQ(empty.reminders.status, 0);
  EXPECT_FALSE(empty.reminders.request);
  EXPECT_EQ(empty.contacts.defaultContainer, "default");
  EXPECT_FALSE(empty.contacts.failAfter);

  const World w = parseWorld(R"({"os_version": "13.6.1",
      "reminders": {"lists": [{"id": {"hex": "c3A9ff"}, "title": "", "fetch": "never", "generate": 2}]},
      "contacts": {"default_container": null, "contacts": [{"id": "c", "given": null}]}})");
  EXPECT_EQ(w.osVersion.major, 13);
  EXPECT_EQ(w.osVersion.patch, 1);
  EXPECT_EQ(w.reminders.lists.at(0).id, "\xC3\xA9\xFF");
  EXPECT_EQ(w.reminders.lists.at(0).fetch, FetchMode::never);
  EXPECT_FALSE(w.contacts.defaultContainer);
  EXPECT_EQ(w.contacts.contacts.at(0).container, "");
  EXPECT_FALSE(w.contacts.contacts.at(0).given);
}

TEST(WorldFile, FaultsNameTheirPlace) {
  try {
    parseWorld(
        R"({"reminders": {"lists": [{"id": "a", "title": "t", "reminders": [{"id": "r", "title": "t", "done": true}]}]}})");
    FAIL() << "an unknown key passed";
  } catch (const WorldError& e) {
    EXPECT_NE(std::string(e.what()).find("reminders.lists[0].reminders[0]"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("done"), std::string::npos) << e.what();
  }
  EXPECT_NO_THROW(parseWorld(demoWorldJson()));
}

}  // namespace
}  // namespace pimbridge::simulated
