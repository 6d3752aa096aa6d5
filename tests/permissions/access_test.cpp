// The access wait and the one claim that decides between the answer and the
// deadline.
#include "permissions/access.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

namespace pimbridge::permissions {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Show that a platform wait that returns at once, as a run loop with nothing
// to serve does, does not end the access wait before its deadline.
TEST(AccessWait, LastsUntilTheDeadlineWhateverThePlatformWaitDoes) {
  Clock::time_point fakeNow{};
  const Clock::time_point deadline = fakeNow + 60s;
  int waits = 0;
  AnswerClaim claim;
  const bool expired = waitForAnswer(
      claim, deadline, [&] { return fakeNow; },
      [&](Clock::time_point) {
        ++waits;
        fakeNow += 7s;  // each platform wait returns early
      });
  EXPECT_TRUE(expired);
  EXPECT_GE(fakeNow, deadline);
  EXPECT_EQ(waits, 9);
}

TEST(AccessWait, AnswerThatClaimedFirstWins) {
  AnswerClaim claim;
  ASSERT_TRUE(claim.claim());  // the answer came during the wait
  Clock::time_point now{};
  EXPECT_FALSE(waitForAnswer(
      claim, now + 1s, [&] { return now; }, [&](Clock::time_point d) { now = d; }));
  EXPECT_FALSE(claim.claim());
}

// Show that when answers land around the deadline, exactly one side wins on
// every run, on real threads and a shortened deadline.
TEST(AccessWait, ExactlyOneSideWinsAroundTheDeadline) {
  std::mt19937 random(20261209);
  std::uniform_int_distribution<int> offsetUs(-300, 300);
  int answersWon = 0;
  int deadlinesWon = 0;
  for (int run = 0; run < 300; ++run) {
    AnswerClaim claim;
    std::atomic<int> printed{0};
    const auto deadline = Clock::now() + 2ms;
    const auto answerAt = deadline + std::chrono::microseconds(offsetUs(random));
    std::thread answer([&] {
      std::this_thread::sleep_until(answerAt);
      if (claim.claim()) printed.fetch_add(1);
    });
    const bool expired = waitForAnswer(
        claim, deadline, [] { return Clock::now(); }, [](Clock::time_point d) { std::this_thread::sleep_until(d); });
    answer.join();
    if (expired) {
      EXPECT_EQ(printed.load(), 0);
      ++deadlinesWon;
    } else {
      EXPECT_EQ(printed.load(), 1);
      ++answersWon;
    }
  }
  EXPECT_EQ(answersWon + deadlinesWon, 300);
}

}  // namespace
}  // namespace pimbridge::permissions
