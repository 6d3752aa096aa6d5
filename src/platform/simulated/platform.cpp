// The simulated platform: both stores, modelled on macOS's, played from a
// world file (PIMBRIDGE_WORLD, or a built-in demo world), with a trace of every
// operation (PIMBRIDGE_TRACE). It needs nothing but the world file and
// scripts every state, answer, delay and failure; it holds no real data. This
// file: start-up, the frame around a command, and the main thread's waits.
#include <thread>

#include "platform/simulated/session.hpp"
#include "stores/platform.hpp"

namespace pimbridge::stores {

void startPlatform() {
  simulated::startSession();
}

void runCommand(const std::function<void()>& command) {
  command();
}

void waitOnMainThreadUntil(std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    simulated::runDueMainTasks();
    if (std::chrono::steady_clock::now() >= deadline) return;
    std::this_thread::sleep_until(simulated::pauseUntil(deadline));
  }
}

// The wait watches the signal itself, so a raise from any thread ends it.
bool waitOnMainThreadFor(Signal& signal, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    simulated::runDueMainTasks();
    if (signal.raised()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    signal.waitUntil(simulated::pauseUntil(deadline));
  }
}

}  // namespace pimbridge::stores
