// Answers that race their deadlines: fetch completions around the five-second
// wait of each list, and access answers around the 60-second wait.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "harness.hpp"

namespace pimbridge::e2e {
namespace {

using nlohmann::json;

// Show that fetch completions landing within 100 ms either side of the
// five-second wait, on several lists, give each list's rows whole or not at
// all, and every run answers with status 0.
TEST(Faults, FetchesAroundTheirDeadline) {
  json lists = json::array();
  const int delays[] = {4900, 4960, 5000, 5040, 5100};
  for (int i = 0; i < 5; ++i) {
    const std::string name = std::string("L").append(std::to_string(i));
    json l = {{"id", name}, {"title", name}, {"generate", 150}};
    l["after_ms"] = delays[i];
    lists.push_back(l);
  }
  const ToolRun run = runTool(json{{"reminders", {{"status", 3}, {"lists", lists}}}}.dump(), {"reminders"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  std::map<std::string, int> perList;
  const auto answer = run.answer();
  for (const auto& r : answer["reminders"]) perList[r["list"]]++;
  for (const auto& [name, count] : perList) EXPECT_EQ(count, 150) << name;
  EXPECT_TRUE(perList.count("L0")) << "a completion 100 ms inside its wait was lost";
  EXPECT_FALSE(perList.count("L4")) << "a completion 100 ms after its wait was taken";
  EXPECT_LT(run.seconds, 5 * 5.0 + startSeconds() + 1.5);
}

class AnswerAroundDeadline : public testing::TestWithParam<int> {};

// Show that an access answer landing near the 60-second deadline gives
// either the whole answer with its own status or nothing with status 0.
TEST_P(AnswerAroundDeadline, OneAnswerOrNone) {
  const json world = {
      {"contacts", {{"status", 0}, {"request", {{"granted", false}, {"after_ms", GetParam()}, {"status_after", 2}}}}}};
  const ToolRun run = runTool(world.dump(), {"request-contacts"});
  EXPECT_EQ(run.err, "");
  if (run.out.empty()) {
    EXPECT_EQ(run.status, 0);
    EXPECT_GE(run.seconds, 60.0);
  } else {
    EXPECT_EQ(run.answer(), (json{{"ok", false}, {"authorization", "denied"}}));
    EXPECT_EQ(run.status, 2);
  }
  if (GetParam() <= 59900) {
    EXPECT_FALSE(run.out.empty()) << "an answer 100 ms before the deadline was lost";
  }
  if (GetParam() >= 60100) {
    EXPECT_TRUE(run.out.empty()) << "an answer 100 ms after the deadline was printed";
  }
}

INSTANTIATE_TEST_SUITE_P(Milliseconds, AnswerAroundDeadline, testing::Values(59900, 60000, 60100));

}  // namespace
}  // namespace pimbridge::e2e
