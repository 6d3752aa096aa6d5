// Process-level facilities on macOS: start-up, the running system's version
// and the main-thread wait of the access requests.
#import <Foundation/Foundation.h>

#include <chrono>

#include "stores/platform.hpp"

#if !__has_feature(objc_arc)
#error "This file requires ARC support."
#endif

namespace pimbridge::stores {

void startPlatform() {
  // Nothing to prepare: the frameworks set themselves up on first use.
}

OsVersion runningOsVersion() {
  const NSOperatingSystemVersion version = NSProcessInfo.processInfo.operatingSystemVersion;
  return OsVersion{version.majorVersion, version.minorVersion, version.patchVersion};
}

void waitOnMainThreadUntil(std::chrono::steady_clock::time_point deadline) {
  NSRunLoop* loop = NSRunLoop.currentRunLoop;
  void (^doNothing)(NSTimer*) = ^(NSTimer*) {
    // The timer is there to be waited for, not to act.
  };
  for (;;) {
    const std::chrono::duration<double> remaining = deadline - std::chrono::steady_clock::now();
    if (remaining.count() <= 0) return;
    @autoreleasepool {
      // NOTE: runUntilDate: returns at once when the run loop has no input
      // source or timer, which is the usual state of a command-line tool's
      // main loop. A one-shot timer at the deadline gives it one, so the loop
      // runs, serving the main queue, until then. The surrounding loop
      // enforces the deadline on the steady clock whenever runUntilDate:
      // comes back early.
      NSTimer* wake = [NSTimer timerWithTimeInterval:remaining.count() repeats:NO block:doNothing];
      [loop addTimer:wake forMode:NSDefaultRunLoopMode];
      [loop runUntilDate:[NSDate dateWithTimeIntervalSinceNow:remaining.count()]];
      [wake invalidate];
    }
  }
}

}  // namespace pimbridge::stores
