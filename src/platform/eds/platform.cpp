// Process-level facilities on Linux desktops: start-up, the frame around a
// command, the running system's version and the main thread's waits. EDS
// delivers on the backend's own GLib thread, so the waits are plain waits.
#include <sys/utsname.h>
#include <time.h>

#include <cctype>
#include <functional>
#include <thread>

#include "answer/output.hpp"
#include "platform/eds/session.hpp"
#include "stores/platform.hpp"

namespace pimbridge::stores {

void startPlatform() {
  // NOTE: the EDS libraries and libical print to standard output and error
  // on some paths, around GLib's log; only the answer and the fallback text
  // may reach the host there.
  answer::reserveStandardStreams();
  ::tzset();
  eds::startSession();
}

void runCommand(const std::function<void()>& command) {
  command();
}

OsVersion runningOsVersion() {
  // The kernel's release, such as 6.1.0-18-amd64; nothing here depends on it.
  OsVersion version;
  struct utsname names {};
  if (::uname(&names) != 0) return version;
  long* parts[] = {&version.major, &version.minor, &version.patch};
  const char* p = names.release;
  for (long* part : parts) {
    if (!std::isdigit(static_cast<unsigned char>(*p))) break;
    while (std::isdigit(static_cast<unsigned char>(*p)) && *part < 100'000'000) *part = *part * 10 + (*p++ - '0');
    if (*p != '.') break;
    ++p;
  }
  return version;
}

void waitOnMainThreadUntil(std::chrono::steady_clock::time_point deadline) {
  std::this_thread::sleep_until(deadline);
}

bool waitOnMainThreadFor(Signal& signal, std::chrono::steady_clock::time_point deadline) {
  return signal.waitUntil(deadline);
}

// The waits watch the signal themselves.
void wakeMainThread() {}

}  // namespace pimbridge::stores
