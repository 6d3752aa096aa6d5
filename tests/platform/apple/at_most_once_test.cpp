// The one-shot wrapper that keeps an access or fetch completion from being
// answered twice.
#include "platform/apple/at_most_once.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace pimbridge::apple {
namespace {

// Show that only the first answer gets through, also from a copy (a block
// holds one copy, the exception path another), and that it arrives unchanged.
TEST(AtMostOnce, OnlyTheFirstAnswerReachesTheCallback) {
  std::vector<std::pair<bool, bool>> answers;
  auto answer = atMostOnce(std::function<void(bool, bool)>(
      [&answers](bool granted, bool errorPresent) { answers.emplace_back(granted, errorPresent); }));
  auto copy = answer;
  copy(true, false);
  answer(false, true);
  copy(false, false);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0], std::make_pair(true, false));
}

TEST(AtMostOnce, MovesItsArgumentAndReleasesTheCallback) {
  auto owner = std::make_shared<int>(0);
  std::optional<std::vector<int>> received;
  auto deliver = atMostOnce(std::function<void(std::optional<std::vector<int>>)>(
      [&received, owner](std::optional<std::vector<int>> rows) { received = std::move(rows); }));
  EXPECT_EQ(owner.use_count(), 2);
  deliver(std::vector<int>{1, 2, 3});
  EXPECT_EQ(received, (std::vector<int>{1, 2, 3}));
  // The callback, and what it captured, is gone once it has run.
  EXPECT_EQ(owner.use_count(), 1);
}

TEST(AtMostOnce, RacingAnswersCallOnce) {
  for (int round = 0; round < 200; ++round) {
    std::atomic<int> calls{0};
    auto answer = atMostOnce(std::function<void(bool, bool)>([&calls](bool, bool) { ++calls; }));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back([answer] { answer(true, false); });
    for (auto& thread : threads) thread.join();
    ASSERT_EQ(calls.load(), 1) << "round " << round;
  }
}

}  // namespace
}  // namespace pimbridge::apple
