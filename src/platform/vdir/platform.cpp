// The vdir backend: task lists and an address book kept as folders of
// iCalendar and vCard files, one file per item, as vdirsyncer and similar
// sync tools write them. It needs libical and EDS's vCard library
// (libebook-contacts, no D-Bus), and the folders: PIMBRIDGE_VDIR_TASKS and
// PIMBRIDGE_VDIR_CONTACTS, or the filesystem storages of vdirsyncer's
// configuration. It cannot prompt (the state is whether the folders can be
// read, and a request answers with it at once), cannot see what a sync has
// not yet written, and reads one address book only.
// This file: start-up, the frame around a command, and the main thread's
// waits, which are plain waits: every delivery comes from a thread.
#include <libical/ical.h>
#include <time.h>

#include <functional>
#include <thread>

#include "platform/vdir/session.hpp"
#include "process/process.hpp"
#include "stores/platform.hpp"

namespace pimbridge::stores {

void startPlatform() {
  // NOTE: libical and GLib print on standard error on some paths; only the
  // answer and the fallback text may reach the host there.
  process::reserveStandardStreams();
  ::tzset();
  icalerror_set_errors_are_fatal(0);
  vdir::startSession();
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
