// How a run ends when something throws: at a boundary, with no boundary at
// all, and while another thread is already answering.
#include "answer/boundary.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <new>
#include <stdexcept>
#include <thread>

#include "process/process.hpp"

namespace pimbridge::answer {
namespace {

constexpr const char* fallbackOnly = R"(^\{"error":"encoding"\}$)";

class Boundary : public testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

// Show that an exception leaving a callback, on the calling thread or on a
// thread of the platform's, ends the run with status 1 and the fixed text,
// whatever was thrown.
TEST_F(Boundary, ThrowingCallbackEndsThroughTheFallback) {
  EXPECT_EXIT(atBoundary([] { throw std::bad_alloc(); }), testing::ExitedWithCode(1), fallbackOnly);
  EXPECT_EXIT(atBoundary([] { throw std::length_error("vector"); }), testing::ExitedWithCode(1), fallbackOnly);
  EXPECT_EXIT(
      {
        std::thread([] { atBoundary([] { throw std::bad_alloc(); }); }).join();
        process::endProcess(0);
      },
      testing::ExitedWithCode(1), fallbackOnly);
}

// Show that an exception that meets no boundary at all still ends the run
// through the fallback rather than aborting.
TEST_F(Boundary, UncaughtExceptionEndsThroughTheFallback) {
  EXPECT_EXIT(
      {
        process::installTerminateHandler(encodingFallback);
        std::thread([] { throw std::bad_alloc(); }).join();
        process::endProcess(0);
      },
      testing::ExitedWithCode(1), fallbackOnly);
}

// Show that a thread failing after another has started to answer waits for
// the process to end: the answer and its status stand, and standard error
// stays empty.
TEST_F(Boundary, SecondThreadToEndTheRunWaits) {
  EXPECT_EXIT(
      {
        ResultMap map;
        map.setText("answer", "given");
        emit(map);
        std::atomic<bool> failing{false};
        std::thread([&failing] {
          failing = true;
          atBoundary([] { throw std::bad_alloc(); });
        }).detach();
        while (!failing) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        process::endProcess(0);
      },
      testing::ExitedWithCode(0), "^$");
}

}  // namespace
}  // namespace pimbridge::answer
