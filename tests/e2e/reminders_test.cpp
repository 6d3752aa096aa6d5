// "reminder-lists" and "reminders" end to end: store order, the list filter,
// due dates, the row threshold, and fetches that are slow, absent or never
// complete.
#include <gtest/gtest.h>

#include <set>

#include "harness.hpp"

namespace pimbridge::e2e {
namespace {

using nlohmann::json;

// A world with the reminder store authorized and these lists.
std::string withLists(const json& lists) {
  return json{{"reminders", {{"status", 3}, {"lists", lists}}}}.dump();
}

json reminder(const std::string& id, const std::string& title, bool completed = false) {
  return {{"id", id}, {"title", title}, {"completed", completed}};
}

// The reminders are a vector rather than a json value: a braced list of one
// json element would copy that element under one compiler and make an array
// of it under another.
json list(const std::string& id, const std::string& title, std::vector<json> reminders = {}) {
  return {{"id", id}, {"title", title}, {"reminders", json(std::move(reminders))}};
}

json generated(const std::string& id, int count) {
  return {{"id", id}, {"title", id}, {"generate", count}};
}

json row(const std::string& id, const std::string& title, const std::string& listTitle, json due = nullptr,
         bool completed = false) {
  return {{"id", id}, {"title", title}, {"list", listTitle}, {"due", due}, {"completed", completed}};
}

const json threeLists = json::array({
    list("A", "Alpha", {reminder("a1", "first"), reminder("a2", "second", true)}),
    list("B", "Beta", {reminder("b1", "only")}),
    list("C/x", "Gamma", {reminder("c1", "last")}),
});

std::vector<std::string> ids(const json& answer) {
  std::vector<std::string> out;
  for (const auto& r : answer.at("reminders")) out.push_back(r.at("id"));
  return out;
}

std::vector<std::string> fetches(const ToolRun& run) {
  std::vector<std::string> out;
  for (const auto& line : run.trace) {
    if (line.rfind("reminders.fetch ", 0) == 0) out.push_back(line.substr(16));
  }
  return out;
}

// Show that "reminder-lists" gives every list in the store's order, the same
// title twice included, and ignores further arguments.
TEST(ReminderLists, StoreOrderNothingMerged) {
  const std::string world = withLists(json::array({list("x", "Same"), list("y", "Same"), list("", "")}));
  expectCase({"",
              world,
              {"reminder-lists", "ignored"},
              0,
              R"({"lists": [{"id": "x", "title": "Same"}, {"id": "y", "title": "Same"}, {"id": "", "title": ""}]})",
              "",
              {"reminders.init", "reminders.status", "reminders.calendars"}});
  expectCase({"", withLists(json::array()), {"reminder-lists"}, 0, R"({"lists": []})"});
}

struct FilterCase {
  std::string name;
  friend void PrintTo(const FilterCase& c, std::ostream* os) { *os << c.name; }
  std::vector<std::string> args;
  std::vector<std::string> rows;
  std::vector<std::string> fetched;
};

class Filter : public testing::TestWithParam<FilterCase> {};

// Show that the list filter is a set matched against identifiers in the
// store's order: duplicates collapse, argument order does not matter, and
// unknown identifiers are ignored without a message.
TEST_P(Filter, ChoosesListsInStoreOrder) {
  auto args = GetParam().args;
  args.insert(args.begin(), "reminders");
  const ToolRun run = runTool(withLists(threeLists), args);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(ids(run.answer()), GetParam().rows);
  EXPECT_EQ(fetches(run), GetParam().fetched);
}

INSTANTIATE_TEST_SUITE_P(Lists, Filter,
                         testing::Values(FilterCase{"All", {}, {"a1", "a2", "b1", "c1"}, {"A", "B", "C/x"}},
                                         FilterCase{"One", {"B"}, {"b1"}, {"B"}},
                                         FilterCase{"SameTwice", {"B", "B"}, {"b1"}, {"B"}},
                                         FilterCase{"ReverseOrder", {"C/x", "A"}, {"a1", "a2", "c1"}, {"A", "C/x"}},
                                         FilterCase{"UnknownAmongKnown", {"nope", "A"}, {"a1", "a2"}, {"A"}},
                                         FilterCase{"OnlyUnknown", {"nope", "a"}, {}, {}},
                                         FilterCase{"EmptyTextIsAnIdentifier", {""}, {}, {}}),
                         CaseName());

// Show the rows in full: the list's title under "list", due dates in UTC,
// null for none, and completed flags as booleans.
TEST(Reminders, RowsInFull) {
  const json lists = json::array({
      list("L1", "List/One",
           {{{"id", "x-apple-reminder://1"},
             {"title", ""},
             {"completed", true},
             {"due",
              {{"year", 2024}, {"month", 3}, {"day", 5}, {"hour", 16}, {"minute", 30}, {"utc_offset_minutes", 120}}}},
            {{"id", "r2"}, {"title", "all day"}, {"due", {{"year", 2024}, {"month", 2}, {"day", 29}}}},
            {{"id", "r3"},
             {"title", "west"},
             {"due", {{"year", 2023}, {"month", 12}, {"day", 31}, {"hour", 20}, {"utc_offset_minutes", -300}}}},
            {{"id", "r4"}, {"title", "null due"}, {"due", nullptr}}}),
      list("", "Empty id", {reminder("r5", "from the list with the empty id")}),
  });
  const ToolRun run = runTool(withLists(lists), {"reminders"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.answer(),
            (json{{"reminders",
                   {row("x-apple-reminder://1", "", "List/One", "2024-03-05T14:30:00Z", true),
                    row("r2", "all day", "List/One", "2024-02-29T00:00:00Z"),
                    row("r3", "west", "List/One", "2024-01-01T01:00:00Z"), row("r4", "null due", "List/One"),
                    row("r5", "from the list with the empty id", "Empty id")}}}));
  EXPECT_NE(run.out.find(R"("x-apple-reminder:\/\/1")"), std::string::npos);
  // The empty identifier selects the list that has it.
  EXPECT_EQ(ids(runTool(withLists(lists), {"reminders", ""}).answer()), std::vector<std::string>{"r5"});
}

// Show that two lists sharing an identifier are both chosen by it, and each
// gives its own reminders under its own title.
TEST(Reminders, ListsSharingAnIdentifier) {
  const json lists = json::array({list("S", "First", {reminder("f1", "x")}), list("T", "Other", {reminder("o1", "y")}),
                                  list("S", "Second", {reminder("s1", "z")})});
  const ToolRun run = runTool(withLists(lists), {"reminders", "S"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.answer(), (json{{"reminders", {row("f1", "x", "First"), row("s1", "z", "Second")}}}));
}

class Unconvertible : public testing::TestWithParam<json> {};

// Show that date components that denote no point in time give "due": null.
TEST_P(Unconvertible, DueIsNull) {
  const json lists = json::array({list("L", "L", {{{"id", "r"}, {"title", "t"}, {"due", GetParam()}}})});
  const ToolRun run = runTool(withLists(lists), {"reminders"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.answer()["reminders"][0]["due"].is_null()) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Components, Unconvertible,
                         testing::Values(json::object(), json{{"year", 2024}, {"month", 3}},
                                         json{{"month", 3}, {"day", 5}},
                                         json{{"year", 2024}, {"month", 13}, {"day", 1}},
                                         json{{"year", 2024}, {"month", 4}, {"day", 31}},
                                         json{{"year", 2023}, {"month", 2}, {"day", 29}},
                                         json{{"year", 2024}, {"month", 1}, {"day", 1}, {"hour", 24}},
                                         json{{"year", 2024}, {"month", 1}, {"day", 1}, {"minute", 60}},
                                         json{{"year", 2024}, {"month", 1}, {"day", 1}, {"second", -1}},
                                         json{{"year", 2024}, {"month", 1}, {"day", 1}, {"utc_offset_minutes", 1081}},
                                         json{{"year", 12000}, {"month", 1}, {"day", 1}}));

struct ThresholdCase {
  std::string name;
  friend void PrintTo(const ThresholdCase& c, std::ostream* os) { *os << c.name; }
  std::vector<int> sizes;
  std::size_t rows;
  std::vector<std::string> fetched;
};

class Threshold : public testing::TestWithParam<ThresholdCase> {};

// Show that once 1000 rows or more are gathered no further list is fetched,
// and that the list that crossed the line is exported whole.
TEST_P(Threshold, StopsFetchingAtOneThousand) {
  json lists = json::array();
  const char* names[] = {"A", "B", "C"};
  for (std::size_t i = 0; i < GetParam().sizes.size(); ++i) lists.push_back(generated(names[i], GetParam().sizes[i]));
  const ToolRun run = runTool(withLists(lists), {"reminders"});
  EXPECT_EQ(run.status, 0);
  const auto answer = run.answer();
  EXPECT_EQ(answer["reminders"].size(), GetParam().rows);
  EXPECT_EQ(fetches(run), GetParam().fetched);
  // Rows come in delivery order, list after list.
  EXPECT_EQ(answer["reminders"][0]["id"], "A-1");
  EXPECT_EQ(answer["reminders"].back()["id"], std::string(names[GetParam().fetched.size() - 1]) + "-" +
                                                  std::to_string(GetParam().sizes[GetParam().fetched.size() - 1]));
}

INSTANTIATE_TEST_SUITE_P(Rows, Threshold,
                         testing::Values(ThresholdCase{"SixHundredTwice", {600, 600, 10}, 1200, {"A", "B"}},
                                         ThresholdCase{"ExactlyOneThousand", {1000, 5}, 1000, {"A"}},
                                         ThresholdCase{"JustBelow", {999, 5}, 1004, {"A", "B"}},
                                         ThresholdCase{"OneListFarAbove", {2500, 5}, 2500, {"A"}}),
                         CaseName());

// Show that a list whose fetch never completes costs one wait of about five
// seconds, and the command goes on to the next list and succeeds.
TEST(SlowFetches, NeverCompletingListIsSkippedAfterItsWait) {
  json lists = json::array({list("A", "A", {reminder("a1", "x")}), list("B", "B", {reminder("b1", "y")})});
  lists[0]["fetch"] = "never";
  const ToolRun run = runTool(withLists(lists), {"reminders"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ids(run.answer()), std::vector<std::string>{"b1"});
  EXPECT_GE(run.seconds, 5.0);
  EXPECT_LT(run.seconds, 5.0 + startSeconds() + 1.5);
  EXPECT_EQ(fetches(run), (std::vector<std::string>{"A", "B"}));
}

// Show that a fetch that delivers no list at all contributes no rows and does
// not make the command wait.
TEST(SlowFetches, AbsentListOfReminders) {
  json lists = json::array({list("A", "A", {reminder("a1", "x")}), list("B", "B", {reminder("b1", "y")})});
  lists[0]["fetch"] = "absent";
  const ToolRun run = runTool(withLists(lists), {"reminders"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ids(run.answer()), std::vector<std::string>{"b1"});
  EXPECT_LT(run.seconds, startSeconds() + 2.5);
}

// Show that a completion that comes in time, even late in its wait, has all
// its rows in the answer.
TEST(SlowFetches, CompletionWithinTheWait) {
  json lists = json::array({generated("A", 300)});
  lists[0]["after_ms"] = 4000;
  const ToolRun run = runTool(withLists(lists), {"reminders"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.answer()["reminders"].size(), 300u);
  // Well under a whole wait more.
  EXPECT_LT(run.seconds, 4.0 + startSeconds() + 0.8);
}

// Show that completions landing around the end of their waits, while the
// command fetches further lists and writes its answer, never tear the answer:
// each list's rows are there whole or not at all.
TEST(SlowFetches, LateCompletionsRaceTheCommand) {
  json lists = json::array();
  const int delays[] = {4990, 5000, 5010};
  for (int i = 0; i < 3; ++i) {
    auto l = generated(std::string("L").append(std::to_string(i)), 400);
    l["after_ms"] = delays[i];
    lists.push_back(l);
  }
  lists.push_back(generated("last", 50));
  const ToolRun run = runTool(withLists(lists), {"reminders"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  std::map<std::string, int> perList;
  const auto answer = run.answer();
  for (const auto& r : answer["reminders"]) perList[r["list"]]++;
  for (const auto& [name, count] : perList) {
    EXPECT_TRUE(count == 400 || (name == "last" && count == 50)) << name << ": " << count;
  }
}

// Show that a list that only answers after its wait has its rows dropped, and
// the answer is printed without waiting for it.
TEST(SlowFetches, CompletionAfterTheWaitIsDropped) {
  json lists = json::array({list("A", "A", {reminder("a1", "x")}), list("B", "B", {reminder("b1", "y")})});
  lists[0]["after_ms"] = 5600;
  const ToolRun run = runTool(withLists(lists), {"reminders"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ids(run.answer()), std::vector<std::string>{"b1"});
}

struct WaitCase {
  std::string name;
  friend void PrintTo(const WaitCase& c, std::ostream* os) { *os << c.name; }
  json lists;                          // each list's keys beyond id, title and one reminder
  std::vector<std::string> rows;       // the lists whose row is in the answer
  std::vector<std::string> cancelled;  // the lists cancelled, once each, in order
  double longestSeconds;               // the designed waits of the run
};

class Waits : public testing::TestWithParam<WaitCase> {};

// Show how a list's wait ends: a completion delivered on the main thread
// itself (as one sent to the main queue) is served inside the wait and
// counts; one that does not come before the deadline leaves its list out,
// and exactly that fetch is cancelled, once; a list that answered is never
// cancelled.
TEST_P(Waits, ServeTheMainThreadAndCancelWhatTimedOut) {
  const auto& p = GetParam();
  json lists = json::array();
  for (const auto& [id, keys] : p.lists.items()) {
    json l = list(id, id, {reminder(id + "1", "x")});
    l.update(keys);
    lists.push_back(l);
  }
  const double start = startSeconds();
  const ToolRun run = runTool(withLists(lists), {"reminders"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  const json answer = run.answer();
  std::vector<std::string> rows;
  for (const auto& r : answer["reminders"]) rows.push_back(r["list"]);
  EXPECT_EQ(rows, p.rows);
  std::vector<std::string> cancelled;
  for (const auto& line : run.trace) {
    if (line.rfind("reminders.cancel ", 0) == 0) cancelled.push_back(line.substr(17));
  }
  EXPECT_EQ(cancelled, p.cancelled);
  // The margin of the long waits: a sanitized build under load needs it.
  EXPECT_LT(run.seconds, p.longestSeconds + start + 1.5);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, Waits,
    testing::Values(
        WaitCase{"OnTheMainThread", {{"A", {{"deliver_on", "main"}}}}, {"A"}, {}, 0},
        WaitCase{"OnTheMainThreadLateInTheWait", {{"A", {{"deliver_on", "main"}, {"after_ms", 3000}}}}, {"A"}, {}, 3.0},
        WaitCase{"OnTheMainThreadAfterTheDeadline",
                 {{"A", {{"deliver_on", "main"}, {"after_ms", 5600}}}, {"B", json::object()}},
                 {"B"},
                 {"A"},
                 5.0},
        WaitCase{"NeverAndAbsentAndAnswered",
                 {{"A", {{"fetch", "never"}}},
                  {"B", json::object()},
                  {"C", {{"fetch", "absent"}, {"deliver_on", "main"}}},
                  {"D", {{"fetch", "never"}, {"deliver_on", "main"}}}},
                 {"B"},
                 {"A", "D"},
                 10.0}),
    CaseName());

// Show that without full access the identifiers are not even looked at.
TEST(Reminders, WriteOnlyIsRefusedBeforeAnything) {
  const std::string world = json{{"reminders", {{"status", 4}, {"lists", threeLists}}}}.dump();
  expectCase({"",
              world,
              {"reminders", "A", "B"},
              2,
              R"({"error": "permission_required"})",
              "",
              {"reminders.init", "reminders.status"}});
}

// Show the order of store operations for one list: instance, status, lists,
// then per chosen list the predicate and the fetch.
TEST(Reminders, StoreOperationsInOrder) {
  ToolRun run = runTool(withLists(threeLists), {"reminders", "B"});
  // The completion's own line may or may not make it before the process ends.
  if (run.trace.size() == 6) {
    EXPECT_EQ(run.trace.back(), "reminders.fetch-completed B");
    run.trace.pop_back();
  }
  EXPECT_EQ(run.trace, (std::vector<std::string>{"reminders.init", "reminders.status", "reminders.calendars",
                                                 "reminders.predicate B", "reminders.fetch B"}));
}

}  // namespace
}  // namespace pimbridge::e2e
