// What one run of the simulated platform shares across its two stores: the
// world it plays, the trace of every operation, and the delivery of
// completions on threads of their own and on the main thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>

#include "answer/boundary.hpp"
#include "platform/simulated/world.hpp"
#include "stores/access.hpp"

namespace pimbridge::simulated {

// Called once at start-up: reads the world (PIMBRIDGE_WORLD, or the demo
// world) and opens the trace (PIMBRIDGE_TRACE). A broken set-up ends the
// process with status 3 and a line on standard error.
void startSession();

// The world of this run, read once at start-up and never changed after.
const World& world();

// The raw authorization states that status reads return; an access answer
// may change them.
extern std::atomic<std::int64_t> reminderState;
extern std::atomic<std::int64_t> contactState;

// Appends one line to the trace: the word, or the word, a space and the
// detail. Written whole with a single call, so that lines of two threads
// never mix.
void trace(std::string_view word);
void trace(std::string_view word, std::string_view detail);

// Runs the callback on its own thread after the delay, as a platform queue
// would: what the callback and the delivery allocate may fail there, and that
// must end the run through the tool's fallback, not abort it. The thread is
// not joined: a callback that is due after the process has ended never runs.
template <typename F>
void later(std::int64_t afterMs, F&& callback) {
  std::thread([afterMs, callback = std::forward<F>(callback)]() mutable {
    std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
    answer::atBoundary(callback);
  }).detach();
}

// Sends the callback to the main thread, as to a main queue: it runs only
// inside a main-thread wait, once due. Only the main thread sends and runs
// them (fetches are started there).
void onMainThread(std::int64_t afterMs, std::function<void()> callback);

// Runs, on the main thread, every main-thread callback that is due, earliest
// first.
void runDueMainTasks();

// The end of a main-thread wait's next pause: the deadline, or the moment the
// next main-thread callback falls due when that comes first.
std::chrono::steady_clock::time_point pauseUntil(std::chrono::steady_clock::time_point deadline);

// Answers an access request as the world says, on a thread of its own; never,
// when the world gives the store no answer.
void answerLater(const std::optional<AccessAnswer>& answer, std::atomic<std::int64_t>& state,
                 stores::AccessCompletion completion);

}  // namespace pimbridge::simulated
