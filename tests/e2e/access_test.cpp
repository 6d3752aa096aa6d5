// "request-reminders" and "request-contacts" end to end: the answer with the
// store's fresh word, the request chosen by system version, and the
// 60-second wait.
#include <gtest/gtest.h>

#include "harness.hpp"

namespace pimbridge::e2e {
namespace {

using nlohmann::json;

std::string answering(const std::string& store, json request, std::int64_t status = 0,
                      const std::string& os = "14.0.0") {
  return json{{"os_version", os}, {store, {{"status", status}, {"request", request}}}}.dump();
}

struct AnswerCase {
  std::string name;
  friend void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.name; }
  std::string command;
  std::string store;
  json request;
  int status;
  json answer;
};

class Answers : public testing::TestWithParam<AnswerCase> {};

// Show that the answer carries the granted flag as given and the store's word
// read after the answer, and ends with 0 when granted, 2 when not.
TEST_P(Answers, OneLineWithTheFreshWord) {
  const auto& p = GetParam();
  // The store starts denied, so a word taken before the answer would show.
  const ToolRun run = runTool(answering(p.store, p.request, 2), {p.command, "ignored"});
  EXPECT_EQ(run.status, p.status);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.answer(), p.answer);
  EXPECT_LT(run.seconds, startSeconds() + 4.0);
}

INSTANTIATE_TEST_SUITE_P(Requests, Answers,
                         testing::Values(AnswerCase{"RemindersGranted",
                                                    "request-reminders",
                                                    "reminders",
                                                    {{"granted", true}, {"status_after", 3}},
                                                    0,
                                                    {{"ok", true}, {"authorization", "authorized"}}},
                                         AnswerCase{"RemindersRefused",
                                                    "request-reminders",
                                                    "reminders",
                                                    {{"granted", false}},
                                                    2,
                                                    {{"ok", false}, {"authorization", "denied"}}},
                                         AnswerCase{"RemindersGrantedWithError",
                                                    "request-reminders",
                                                    "reminders",
                                                    {{"granted", true}, {"error", true}, {"status_after", 3}},
                                                    0,
                                                    {{"ok", true}, {"authorization", "authorized"}}},
                                         AnswerCase{"RemindersGrantedWriteOnly",
                                                    "request-reminders",
                                                    "reminders",
                                                    {{"granted", true}, {"status_after", 4}},
                                                    0,
                                                    {{"ok", true}, {"authorization", "write_only"}}},
                                         AnswerCase{"RemindersRefusedButAuthorized",
                                                    "request-reminders",
                                                    "reminders",
                                                    {{"granted", false}, {"status_after", 3}},
                                                    2,
                                                    {{"ok", false}, {"authorization", "authorized"}}},
                                         AnswerCase{"ContactsGranted",
                                                    "request-contacts",
                                                    "contacts",
                                                    {{"granted", true}, {"status_after", 3}},
                                                    0,
                                                    {{"ok", true}, {"authorization", "authorized"}}},
                                         AnswerCase{"ContactsRefusedWithError",
                                                    "request-contacts",
                                                    "contacts",
                                                    {{"granted", false}, {"error", true}, {"status_after", 2}},
                                                    2,
                                                    {{"ok", false}, {"authorization", "denied"}}},
                                         AnswerCase{"ContactsGrantedLimited",
                                                    "request-contacts",
                                                    "contacts",
                                                    {{"granted", true}, {"status_after", 4}},
                                                    0,
                                                    {{"ok", true}, {"authorization", "limited"}}},
                                         AnswerCase{"ContactsGrantedUnknown",
                                                    "request-contacts",
                                                    "contacts",
                                                    {{"granted", true}, {"status_after", -7}},
                                                    0,
                                                    {{"ok", true}, {"authorization", "unknown"}}}),
                         CaseName());

struct VersionCase {
  std::string name;
  friend void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.name; }
  std::string os;
  std::string request;
};

class Versions : public testing::TestWithParam<VersionCase> {};

// Show that the reminder request is chosen by the running system's version,
// and that no state is read before the request is made.
TEST_P(Versions, ChooseTheRequest) {
  const auto& p = GetParam();
  const ToolRun run = runTool(answering("reminders", {{"granted", true}}, 3, p.os), {"request-reminders"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.trace, (std::vector<std::string>{"reminders.init", "os.version", p.request, "reminders.status"}));
}

INSTANTIATE_TEST_SUITE_P(Systems, Versions,
                         testing::Values(VersionCase{"Ventura", "13.6.1", "reminders.request-access"},
                                         VersionCase{"SonomaFirst", "14.0.0", "reminders.request-full-access"},
                                         VersionCase{"Sequoia", "15.2.0", "reminders.request-full-access"},
                                         VersionCase{"Future", "26.0.0", "reminders.request-full-access"}),
                         CaseName());

TEST(Access, ContactsRequestTrace) {
  const ToolRun run = runTool(answering("contacts", {{"granted", true}}, 3), {"request-contacts"});
  EXPECT_EQ(run.trace, (std::vector<std::string>{"contacts.init", "contacts.request-access", "contacts.status"}));
}

// Show that an answer after a few seconds is waited for.
TEST(Access, AnswerAfterSomeSeconds) {
  const ToolRun run = runTool(answering("contacts", {{"granted", true}, {"after_ms", 2500}, {"status_after", 3}}),
                              {"request-contacts"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.answer(), (json{{"ok", true}, {"authorization", "authorized"}}));
  EXPECT_GE(run.seconds, 2.5);
  EXPECT_LT(run.seconds, 2.5 + startSeconds() + 1.5);
}

// Show that a prompt nobody answers ends after 60 seconds with no output and
// status 0, and that an answer due just after the deadline prints nothing.
TEST(AccessDeadline, NoAnswerEndsAfterSixtySeconds) {
  const ToolRun run = runTool(json{{"reminders", {{"status", 0}}}}.dump(), {"request-reminders"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_GE(run.seconds, 60.0);
  EXPECT_LT(run.seconds, 60.0 + startSeconds() + 1.5);
}

TEST(AccessDeadline, AnswerJustAfterTheDeadlineIsNotPrinted) {
  const ToolRun run = runTool(answering("contacts", {{"granted", true}, {"after_ms", 60150}}), {"request-contacts"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_GE(run.seconds, 60.0);
}

}  // namespace
}  // namespace pimbridge::e2e
