// Process-level facilities of the platform that the commands need besides the
// two stores: start-up, the frame around a command, the running system's
// version, and the main thread's waits.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace pimbridge::stores {

// Called once at start-up, before any command runs. A backend that cannot run
// (a broken test set-up) ends the process here.
void startPlatform();

// Runs one command's work inside what the platform needs around it (on macOS
// an autorelease pool, so that what the frameworks hand back is released as
// the work goes rather than at the end of the process).
void runCommand(const std::function<void()>& command);

struct OsVersion {
  long major = 0;
  long minor = 0;
  long patch = 0;
};

OsVersion runningOsVersion();

// Lets callbacks of the platform run on their own threads while the main
// thread waits, and returns no earlier than the deadline. On a system with a
// main run loop, the loop is served during the wait.
void waitOnMainThreadUntil(std::chrono::steady_clock::time_point deadline);

// A one-shot signal that a platform callback raises, on any thread, for a
// wait of the main thread.
class Signal {
 public:
  // Raises the signal; raising it again changes nothing.
  void raise();
  bool raised() const;
  // Blocks the calling thread, serving nothing, until the signal is raised or
  // the deadline passes. True when it was raised.
  bool waitUntil(std::chrono::steady_clock::time_point deadline);

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool raised_ = false;
};

// Waits on the main thread until the signal is raised or the deadline passes,
// serving meanwhile whatever the platform delivers on the main thread (on
// macOS the main run loop, and with it the main queue), so that a callback
// delivered there can raise it. True when the signal was raised.
bool waitOnMainThreadFor(Signal& signal, std::chrono::steady_clock::time_point deadline);

// Called by Signal::raise on the raising thread, after the signal is raised:
// lets a main-thread wait that serves a run loop notice it at once.
void wakeMainThread();

}  // namespace pimbridge::stores
