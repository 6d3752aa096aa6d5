// The one-shot signal that a platform callback raises, on any thread, for a
// wait of the main thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace pimbridge::stores {

class Signal {
 public:
  // Raises the signal; raising it again changes nothing.
  void raise();
  bool raised() const;
  // Blocks the calling thread, serving nothing, until the signal is raised or
  // the deadline passes. True when it was raised.
  bool waitUntil(std::chrono::steady_clock::time_point deadline);
  // Has raise() call `wake` on the raising thread, after the signal is
  // raised, in place of any earlier one. A wait that serves something other
  // than the signal (a run loop) sets it before it looks at raised(), so that
  // it notices at once.
  void onRaise(std::function<void()> wake);

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool raised_ = false;
  std::function<void()> wake_;
};

}  // namespace pimbridge::stores
