// The EDS backend: Evolution Data Server's task lists and default address
// book behind the store seam, for Linux desktops. It needs a session bus on
// which EDS runs or can be started, glib and the EDS client libraries. EDS
// has no prompt: the access requests answer at once with whether the store is
// there. This file: start-up, the frame around a command, and the main
// thread's waits; EDS delivers on the backend's own GLib thread, so the waits
// are plain waits.
#include <time.h>

#include <functional>
#include <thread>

#include "platform/eds/session.hpp"
#include "process/process.hpp"
#include "stores/platform.hpp"

namespace pimbridge::stores {

void startPlatform() {
  // NOTE: the EDS libraries and libical print to standard output and error
  // on some paths, around GLib's log; only the answer and the fallback text
  // may reach the host there.
  process::reserveStandardStreams();
  ::tzset();
  eds::startSession();
}

void runCommand(const std::function<void()>& command) {
  command();
}

void waitOnMainThreadUntil(std::chrono::steady_clock::time_point deadline) {
  std::this_thread::sleep_until(deadline);
}

bool waitOnMainThreadFor(Signal& signal, std::chrono::steady_clock::time_point deadline) {
  return signal.waitUntil(deadline);
}

}  // namespace pimbridge::stores
