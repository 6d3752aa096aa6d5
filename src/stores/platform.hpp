// What the platform backend defines besides its two stores: the process's
// start, the frame around a command, and the main thread's waits. Every
// backend under platform/ defines each of these; the one chosen at configure
// time is linked.
#pragma once

#include <chrono>
#include <functional>

#include "stores/signal.hpp"

namespace pimbridge::stores {

// Called once at start-up, before any command runs. A backend that cannot run
// (a broken test set-up) ends the process here.
void startPlatform();

// Runs one command's work inside what the platform needs around it (on macOS
// an autorelease pool, so that what the frameworks hand back is released as
// the work goes rather than at the end of the process).
void runCommand(const std::function<void()>& command);

// Lets callbacks of the platform run on their own threads while the main
// thread waits, and returns no earlier than the deadline. On a system with a
// main run loop, the loop is served during the wait.
void waitOnMainThreadUntil(std::chrono::steady_clock::time_point deadline);

// Waits on the main thread until the signal is raised or the deadline passes,
// serving meanwhile whatever the platform delivers on the main thread (on
// macOS the main run loop, and with it the main queue), so that a callback
// delivered there can raise it. True when the signal was raised.
bool waitOnMainThreadFor(Signal& signal, std::chrono::steady_clock::time_point deadline);

}  // namespace pimbridge::stores
