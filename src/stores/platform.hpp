// Process-level facilities of the platform that the commands need besides the
// two stores: start-up, the running system's version, and the main-thread wait
// of the access requests.
#pragma once

#include <chrono>

namespace pimbridge::stores {

// Called once at start-up, before any command runs. A backend that cannot run
// (a broken test set-up) ends the process here.
void startPlatform();

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

}  // namespace pimbridge::stores
