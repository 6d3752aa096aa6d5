// The vdir backend's bounded waits: a piece of work that the file system
// holds is given up at the deadline, and a reading thread that the tool
// stops taking from is released.
#include "platform/vdir/session.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace pimbridge::vdir {
namespace {

using namespace std::chrono_literals;

TEST(VdirWaits, WorkHeldPastTheDeadlineIsGivenUp) {
  auto release = std::make_shared<std::atomic<bool>>(false);
  const auto start = Clock::now();
  const auto value = withinDeadline<int>(start + 200ms, [release] {
    while (!release->load()) std::this_thread::sleep_for(5ms);
    return 1;
  });
  EXPECT_FALSE(value.has_value());
  EXPECT_LT(Clock::now() - start, 1500ms);
  release->store(true);
  EXPECT_EQ(withinDeadline<int>(Clock::now() + 2s, [] { return 7; }), 7);
}

TEST(VdirWaits, HandoverEndsEveryWay) {
  {
    // Items in order, then the end; a failed end is told apart.
    Handover<int> handover(2);
    std::thread reader([&] {
      for (int i = 0; i < 5; ++i) ASSERT_TRUE(handover.put(i));
      handover.end(false);
    });
    std::vector<int> taken;
    while (taken.size() < 5) {
      std::vector<int> batch;
      ASSERT_EQ(handover.take(Clock::now() + 2s, batch), Handover<int>::Took::items);
      ASSERT_LE(batch.size(), 2u);
      taken.insert(taken.end(), batch.begin(), batch.end());
    }
    EXPECT_EQ(taken, (std::vector<int>{0, 1, 2, 3, 4}));
    std::vector<int> rest;
    EXPECT_EQ(handover.take(Clock::now() + 2s, rest), Handover<int>::Took::failed);
    reader.join();
  }
  {
    // A stop releases a reader that waits for room, and refuses its item.
    Handover<int> handover(1);
    std::atomic<bool> refused{false};
    std::thread reader([&] {
      handover.put(1);
      refused = !handover.put(2);
    });
    std::vector<int> batch;
    ASSERT_EQ(handover.take(Clock::now() + 2s, batch), Handover<int>::Took::items);
    std::this_thread::sleep_for(20ms);
    handover.stop();
    reader.join();
    EXPECT_TRUE(refused.load() || handover.stopped());
  }
  {
    // Nothing coming: late at the deadline.
    Handover<int> handover(1);
    std::vector<int> batch;
    const auto start = Clock::now();
    EXPECT_EQ(handover.take(start + 100ms, batch), Handover<int>::Took::late);
    EXPECT_GE(Clock::now() - start, 100ms);
  }
}

}  // namespace
}  // namespace pimbridge::vdir
