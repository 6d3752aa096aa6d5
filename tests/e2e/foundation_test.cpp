// The command front end, the status words, the gate and the output rules,
// end to end on the simulated platform.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "harness.hpp"

namespace pimbridge::e2e {
namespace {

const std::string authorized = R"({"reminders": {"status": 3}, "contacts": {"status": 3}})";

std::string statuses(std::int64_t reminders, std::int64_t contacts) {
  return nlohmann::json{{"reminders", {{"status", reminders}}}, {"contacts", {{"status", contacts}}}}.dump();
}

class CommandLine : public testing::TestWithParam<Case> {};

// Show that the command word is matched whole, exactly and case-sensitively,
// that anything else gets "unknown_command" with status 2 and no store is
// touched, and that further arguments are ignored.
TEST_P(CommandLine, AnswersAsTheHostExpects) {
  expectCase(GetParam());
}

const std::string unknown = R"({"error": "unknown_command"})";
const std::string bothAuthorized = R"({"reminders": "authorized", "contacts": "authorized"})";

INSTANTIATE_TEST_SUITE_P(
    Words, CommandLine,
    testing::Values(
        Case{"NoArguments", authorized, {}, 0, bothAuthorized, "", {"reminders.status", "contacts.status"}},
        Case{"AuthorizationWord", authorized, {"authorization"}, 0, bothAuthorized},
        Case{"AuthorizationWithMore", authorized, {"authorization", "x", "--y"}, 0, bothAuthorized},
        Case{"EmptyWord", authorized, {""}, 2, unknown}, Case{"Capitalised", authorized, {"Authorization"}, 2, unknown},
        Case{"UpperCase", authorized, {"CONTACTS"}, 2, unknown},
        Case{"LeadingBlank", authorized, {" reminders"}, 2, unknown},
        Case{"TrailingBlank", authorized, {"reminders "}, 2, unknown},
        Case{"CutShort", authorized, {"reminder"}, 2, unknown}, Case{"Longer", authorized, {"remindersx"}, 2, unknown},
        Case{"OptionShaped", authorized, {"--help"}, 2, unknown}, Case{"ShortOption", authorized, {"-h"}, 2, unknown},
        Case{"UnknownWithValidAfter", authorized, {"help", "authorization"}, 2, unknown, "", {}}),
    CaseName());

TEST(CommandLine, UnknownWordTouchesNoStore) {
  const ToolRun run = runTool(authorized, {"--version"});
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(run.trace.empty());
}

struct StatusCase {
  std::int64_t raw;
  const char* reminderWord;
  const char* contactWord;
  friend void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.raw; }
};

class StatusWords : public testing::TestWithParam<StatusCase> {};

// Show that every raw state reaches the host as its word through
// "authorization", that the gate of each reading command lets only 3 pass,
// and that a refusal prints nothing but the refusal.
TEST_P(StatusWords, ReportAndGate) {
  const auto& p = GetParam();
  const ToolRun report = runTool(statuses(p.raw, p.raw), {"authorization"});
  EXPECT_EQ(report.status, 0);
  EXPECT_EQ(report.answer(), (nlohmann::json{{"reminders", p.reminderWord}, {"contacts", p.contactWord}}));
  EXPECT_EQ(report.trace, (std::vector<std::string>{"reminders.status", "contacts.status"}));

  const bool passes = p.raw == 3;
  for (const auto& [command, store] : {std::pair{"reminder-lists", "reminders"}, std::pair{"reminders", "reminders"},
                                       std::pair{"contacts", "contacts"}}) {
    // The other store is authorized, so only the command's own store decides.
    const std::string world = std::string(store) == "reminders" ? statuses(p.raw, 3) : statuses(3, p.raw);
    const ToolRun run = runTool(world, {command, "some-list"});
    ASSERT_GE(run.trace.size(), 2u) << command;
    EXPECT_EQ(run.trace[0], std::string(store) + ".init") << command;
    EXPECT_EQ(run.trace[1], std::string(store) + ".status") << command;
    EXPECT_EQ(run.err, "");
    if (passes) {
      EXPECT_EQ(run.status, 0) << command;
      EXPECT_FALSE(run.answer().contains("error")) << command;
    } else {
      EXPECT_EQ(run.status, 2) << command;
      EXPECT_EQ(run.answer(), nlohmann::json({{"error", "permission_required"}})) << command;
      EXPECT_EQ(run.trace.size(), 2u) << command << ": the refused command read on";
    }
  }
}

constexpr auto int64Min = std::numeric_limits<std::int64_t>::min();
constexpr auto int64Max = std::numeric_limits<std::int64_t>::max();

INSTANTIATE_TEST_SUITE_P(RawStates, StatusWords,
                         testing::Values(StatusCase{0, "not_determined", "not_determined"},
                                         StatusCase{1, "restricted", "restricted"}, StatusCase{2, "denied", "denied"},
                                         StatusCase{3, "authorized", "authorized"},
                                         StatusCase{4, "write_only", "limited"}, StatusCase{5, "unknown", "unknown"},
                                         StatusCase{-1, "unknown", "unknown"},
                                         StatusCase{int64Min, "unknown", "unknown"},
                                         StatusCase{int64Max, "unknown", "unknown"}));

// Show that a text that is not valid UTF-8 anywhere in the answer sends the
// run to the encoding fallback: the fixed text on standard error, nothing on
// standard output, status 1.
TEST(Output, UnencodableTextFallsBack) {
  const std::string world = R"({"reminders": {"status": 3, "lists": [
      {"id": "a", "title": "fine"}, {"id": "b", "title": {"hex": "ff"}}]}})";
  const ToolRun run = runTool(world, {"reminder-lists"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, R"({"error":"encoding"})");
}

// Show that the writing rules reach the host: "/" as "\/", escapes for the
// quotation mark, reverse solidus and control characters, raw UTF-8 for the
// rest, and no whitespace.
TEST(Output, WritingRulesOnTheWire) {
  const std::string world = R"({"reminders": {"status": 3, "lists": [
      {"id": "a/b", "title": "q\"b\\n\n\u0001 é 日本 😀"}]}})";
  const ToolRun run = runTool(world, {"reminder-lists"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "{\"lists\":[{\"id\":\"a\\/b\",\"title\":\"q\\\"b\\\\n\\n\\u0001 \xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC "
            "\xF0\x9F\x98\x80\"}]}\n");
}

// Show that an answer the host cannot receive in full is not reported as a
// success.
TEST(Output, FullDiskIsAFailure) {
  for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"contacts"}}) {
    Invocation inv;
    inv.world = authorized;
    inv.args = args;
    inv.stdoutPath = "/dev/full";
    const ToolRun run = runTool(inv);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "");
  }
}

TEST(Output, ClosedStandardOutputIsAFailure) {
  Invocation inv;
  inv.world = authorized;
  inv.closeStdout = true;
  EXPECT_EQ(runTool(inv).status, 1);
}

struct BrokenWorld {
  std::string name;
  friend void PrintTo(const BrokenWorld& c, std::ostream* os) { *os << c.name; }
  std::string world;
};

class BrokenWorlds : public testing::TestWithParam<BrokenWorld> {};

// Show that a world that does not follow the format stops the run with
// status 3 and a "simulated platform:" line, before any command runs.
TEST_P(BrokenWorlds, StopBeforeAnyCommand) {
  const ToolRun run = runTool(GetParam().world, {"authorization"});
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind("simulated platform: ", 0), 0u) << run.err;
  EXPECT_EQ(run.err.back(), '\n');
  EXPECT_TRUE(run.trace.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BrokenWorlds,
    testing::Values(
        BrokenWorld{"NotJson", "{"}, BrokenWorld{"NotAnObject", "[]"},
        BrokenWorld{"UnknownTopKey", R"({"reminder": {}})"},
        BrokenWorld{"UnknownStoreKey", R"({"contacts": {"stauts": 3}})"},
        BrokenWorld{"StatusNotInteger", R"({"reminders": {"status": "3"}})"},
        BrokenWorld{"StatusFraction", R"({"reminders": {"status": 3.5}})"},
        BrokenWorld{"StatusTooLarge", R"({"reminders": {"status": 9223372036854775808}})"},
        BrokenWorld{"OddHex", R"({"reminders": {"lists": [{"id": {"hex": "abc"}, "title": "t"}]}})"},
        BrokenWorld{"BadHexDigit", R"({"reminders": {"lists": [{"id": {"hex": "zz"}, "title": "t"}]}})"},
        BrokenWorld{"ListWithoutTitle", R"({"reminders": {"lists": [{"id": "a"}]}})"},
        BrokenWorld{"UnknownFetchMode", R"({"reminders": {"lists": [{"id": "a", "title": "t", "fetch": "late"}]}})"},
        BrokenWorld{"UnknownDeliveryThread",
                    R"({"reminders": {"lists": [{"id": "a", "title": "t", "deliver_on": "queue"}]}})"},
        BrokenWorld{"NegativeAfter", R"({"reminders": {"lists": [{"id": "a", "title": "t", "after_ms": -1}]}})"},
        BrokenWorld{
            "UnknownDueKey",
            R"({"reminders": {"lists": [{"id": "a", "title": "t", "reminders": [{"id": "r", "title": "t", "due": {"yaer": 2024}}]}]}})"},
        BrokenWorld{"RequestWithoutGranted", R"({"contacts": {"request": {"after_ms": 5}}})"},
        BrokenWorld{"BadOsVersion", R"({"os_version": "14.0"})"},
        BrokenWorld{"ContactWithoutId", R"({"contacts": {"contacts": [{"given": "A"}]}})"},
        BrokenWorld{"PhonesNotTexts", R"({"contacts": {"contacts": [{"id": "a", "phones": [5]}]}})"}),
    [](const auto& info) { return info.param.name; });

TEST(BrokenWorlds, UnreadableFileStops) {
  Invocation inv;
  inv.replaceEnvironment = true;
  inv.environment = {"PIMBRIDGE_WORLD=/nonexistent/world.json"};
  const ToolRun run = runTool(inv);
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.err.rfind("simulated platform: /nonexistent/world.json", 0), 0u) << run.err;
}

// Show that without a world file the demo world answers, with both stores
// authorized.
TEST(DemoWorld, AnswersEveryReadingCommand) {
  for (const auto& command : {"authorization", "reminder-lists", "reminders", "contacts"}) {
    const ToolRun run = runTool("", {command});
    EXPECT_EQ(run.status, 0) << command;
    EXPECT_FALSE(run.answer().contains("error")) << command;
  }
  const auto lists = runTool("", {"reminder-lists"}).answer()["lists"];
  EXPECT_GE(lists.size(), 2u);
  const auto contacts = runTool("", {"contacts"}).answer()["contacts"];
  EXPECT_GE(contacts.size(), 2u);
}

}  // namespace
}  // namespace pimbridge::e2e
