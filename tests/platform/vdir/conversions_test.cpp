// The vdir backend's pure rules: due instants by form, identifiers, the text
// checks, item names, display titles, and what a vdirsyncer configuration
// names.
#include "platform/vdir/conversions.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pimbridge::vdir {
namespace {

// A zone one hour east of UTC that moves to two hours at 2024-03-31T01:00Z
// and back at 2024-10-27T01:00Z, as Central Europe does.
std::int64_t centralEurope(std::int64_t utc) {
  return utc >= 1711846800 && utc < 1729990800 ? 7200 : 3600;
}

struct DueCase {
  const char* name;
  friend void PrintTo(const DueCase& c, std::ostream* os) { *os << c.name; }
  DueReading due;
  bool zoneKnown;
  std::optional<double> expected;  // seconds since 1970
};

class DueMoments : public testing::TestWithParam<DueCase> {};

TEST_P(DueMoments, ByForm) {
  const DueCase& c = GetParam();
  const calendar::UtcOffsetAt zone = centralEurope;
  const calendar::UtcOffsetAt local = [](std::int64_t) -> std::int64_t { return -5 * 3600; };
  const auto moment = dueMoment(c.due, c.zoneKnown ? &zone : nullptr, local);
  ASSERT_EQ(moment.has_value(), c.expected.has_value());
  if (moment) {
    EXPECT_EQ(moment->time_since_epoch().count(), *c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Vdir, DueMoments,
    testing::Values(DueCase{"Utc", {{2024, 3, 1, 9, 0, 0}, DueForm::utc}, false, 1709283600},
                    DueCase{"ZonedWinter", {{2024, 3, 1, 9, 0, 0}, DueForm::zoned}, true, 1709280000},
                    DueCase{"ZonedSummer", {{2024, 7, 1, 9, 0, 0}, DueForm::zoned}, true, 1719817200},
                    // 02:30 does not exist on 31 March: it lands at 03:30 summer time.
                    DueCase{"ZonedSkippedReading", {{2024, 3, 31, 2, 30, 0}, DueForm::zoned}, true, 1711848600},
                    // 02:30 shows twice on 27 October: the first showing, in summer time.
                    DueCase{"ZonedRepeatedReading", {{2024, 10, 27, 2, 30, 0}, DueForm::zoned}, true, 1729989000},
                    DueCase{"ZoneUnknown", {{2024, 3, 1, 9, 0, 0}, DueForm::zoned}, false, std::nullopt},
                    DueCase{"Floating", {{2024, 3, 1, 9, 0, 0}, DueForm::floating}, false, 1709301600},
                    DueCase{"DateIgnoresTime", {{2024, 3, 1, 9, 0, 0}, DueForm::date}, false, 1709269200},
                    DueCase{"NoSuchDay", {{2023, 2, 29, 0, 0, 0}, DueForm::utc}, false, std::nullopt},
                    DueCase{"NoSuchMonth", {{2024, 13, 1, 0, 0, 0}, DueForm::date}, false, std::nullopt},
                    DueCase{"NoSuchTime", {{2024, 3, 1, 24, 0, 0}, DueForm::floating}, false, std::nullopt},
                    DueCase{"FarYear", {{900'000'000, 1, 1, 0, 0, 0}, DueForm::utc}, false, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VdirIdentifiers, UidAndRecurrence) {
  EXPECT_EQ(taskIdentifier("a@b", ""), "a@b");
  EXPECT_EQ(taskIdentifier("a@b", "20240108T090000Z"), "a@b#20240108T090000Z");
  EXPECT_EQ(joinedValues({}), "");
  EXPECT_EQ(joinedValues({"12", "", "34"}), "12;;34");
  EXPECT_EQ(fileStem("a.b.vcf"), "a.b");
  EXPECT_EQ(fileStem("plain"), "plain");
}

TEST(VdirText, CleanTextAndNames) {
  const struct {
    std::string bytes;
    bool clean;
  } texts[] = {
      {"plain", true},
      {"caf\xC3\xA9 \xF0\x9F\x93\x85", true},
      {"caf\xE9", false},               // Latin-1
      {std::string("a\0b", 3), false},  // a NUL
      {"\xC0\xAF", false},              // an overlong form
      {"\xED\xA0\x80", false},          // a surrogate
      {"\xE2\x82", false},              // cut off
      {"\xF4\x90\x80\x80", false},      // beyond U+10FFFF
  };
  for (const auto& t : texts) EXPECT_EQ(isCleanText(t.bytes), t.clean) << t.bytes;

  // Folds joined first: a character split by a fold is whole again.
  const struct {
    std::string bytes;
    bool clean;
  } items[] = {
      {"SUMMARY:caf\xC3\r\n \xA9", true},   {"SUMMARY:caf\xC3\n\t\xA9", true},
      {"SUMMARY:caf\xC3\r\n\xA9", false},    // a line end, not a fold
      {"SUMMARY:caf\xC3\r\n  \xA9", false},  // a fold keeps its second space
      {"SUMMARY:caf\xE9\r\n x", false},     {std::string("SUMMARY:a\0\r\n b", 14), false},
  };
  for (const auto& t : items) EXPECT_EQ(isCleanItemText(t.bytes), t.clean) << t.bytes;

  const struct {
    const char* name;
    bool item;
  } names[] = {{"a.ics", true},  {".ics", false}, {".hidden.ics", false}, {"a.ics.tmp", false}, {"a.ICS", false},
               {"a.vcf", false}, {"x", false}};
  for (const auto& n : names) EXPECT_EQ(isItemName(n.name, ".ics"), n.item) << n.name;
}

TEST(VdirText, CardsOpenedAndTitles) {
  EXPECT_EQ(cardsOpened("BEGIN:VCARD\r\nEND:VCARD\r\n"), 1u);
  EXPECT_EQ(cardsOpened("begin:vcard\nEND:VCARD\nBEGIN:VCARD\nEND:VCARD"), 2u);
  EXPECT_EQ(cardsOpened("BEGIN:VCARD\r\nNOTE:x\r\n BEGIN:VCARD\r\nAGENT:BEGIN:VCARD\\nEND:VCARD\r\nEND:VCARD"), 1u);
  EXPECT_EQ(cardsOpened("BEGIN:VCARDS\r\n"), 0u);
  EXPECT_EQ(cardsOpened(""), 0u);

  EXPECT_EQ(displayTitle("Work\r\nmore"), "Work");
  EXPECT_EQ(displayTitle("Work"), "Work");
  EXPECT_EQ(displayTitle("\nWork"), std::nullopt);
  EXPECT_EQ(displayTitle(""), std::nullopt);
  EXPECT_EQ(displayTitle("caf\xE9\n"), std::nullopt);
}

struct ConfigCase {
  const char* name;
  friend void PrintTo(const ConfigCase& c, std::ostream* os) { *os << c.name; }
  std::string text;
  std::optional<ConfiguredFolders> expected;
};

class VdirsyncerConfigs : public testing::TestWithParam<ConfigCase> {};

TEST_P(VdirsyncerConfigs, Folders) {
  const auto folders = foldersOfConfig(GetParam().text, "/home/u");
  ASSERT_EQ(folders.has_value(), GetParam().expected.has_value());
  if (!folders) return;
  EXPECT_EQ(folders->tasks, GetParam().expected->tasks);
  EXPECT_EQ(folders->contacts, GetParam().expected->contacts);
}

INSTANTIATE_TEST_SUITE_P(
    Vdir, VdirsyncerConfigs,
    testing::Values(
        ConfigCase{"StoragesInOrder",
                   "# mine\n[general]\nstatus_path = \"~/.vdirsyncer/status/\"\n\n"
                   "[pair p]\na = \"b\"\nb = \"c\"\ncollections = [\"from a\", \"from b\"]\n\n"
                   "[storage cal2]\ntype = \"filesystem\"\npath = \"~/cal2/\"\nfileext = \".ics\"\n"
                   "[storage remote]\ntype = \"caldav\"\nurl = \"https://example.org/\"\n"
                   "[storage cal1]\ntype = \"filesystem\"\npath = \"/data/cal \\u00e9\"\nfileext = \".ics\"\n"
                   "[storage book]\ntype = \"filesystem\"\npath = \"~\"\nfileext = \".vcf\"\n",
                   ConfiguredFolders{{"/home/u/cal2/", "/data/cal é"}, {"/home/u"}}},
        ConfigCase{"OtherUsersHomeAndOtherExtensions",
                   "[storage a]\ntype = \"filesystem\"\npath = \"~other/x\"\nfileext = \".ics\"\n"
                   "[storage b]\ntype = \"filesystem\"\npath = \"/y\"\nfileext = \".ical\"\n"
                   "[storage c]\ntype = \"singlefile\"\npath = \"/z.ics\"\nfileext = \".ics\"\n"
                   "[pair d]\ntype = \"filesystem\"\npath = \"/w\"\nfileext = \".ics\"\n",
                   ConfiguredFolders{{"~other/x"}, {}}},
        ConfigCase{"Empty", "", ConfiguredFolders{}},
        ConfigCase{"ValueNotJson", "[storage a]\ntype = filesystem\n", std::nullopt},
        ConfigCase{"NoSection", "type = \"filesystem\"\n", std::nullopt},
        ConfigCase{"NotUtf8", "[storage a]\npath = \"\xE9\"\n", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pimbridge::vdir
