// The macOS backend: EventKit and the Contacts framework behind the store
// seam, for macOS 13 and later. It needs Foundation, EventKit and Contacts,
// and a host that declares the usage strings (the prompts are the system's).
// Contacts come back unified: a person linked across accounts is one contact.
// This file: start-up, the frame around a command, and the main thread's
// waits, which serve the main run loop and with it the main queue.
#import <Foundation/Foundation.h>
#include <dispatch/dispatch.h>

#include <chrono>
#include <functional>

#include "stores/platform.hpp"

#if !__has_feature(objc_arc)
#error "This file requires ARC support."
#endif

namespace pimbridge::stores {

void startPlatform() {
  // Nothing to prepare: the frameworks set themselves up on first use.
}

namespace {

// Runs the main run loop once, until a source has been handled (a block on the
// main queue among them) or the deadline has passed; false once it has.
bool serveMainRunLoopOnce(std::chrono::steady_clock::time_point deadline) {
  const std::chrono::duration<double> remaining = deadline - std::chrono::steady_clock::now();
  if (remaining.count() <= 0) return false;
  @autoreleasepool {
    // NOTE: the run loop returns at once when it has no input source or timer,
    // which is the usual state of a command-line tool's main loop. A one-shot
    // timer at the deadline gives it one, so that it runs, serving the main
    // queue, until then. The callers enforce the deadline on the steady clock
    // whenever the loop comes back early.
    NSTimer* wake = [NSTimer timerWithTimeInterval:remaining.count()
                                           repeats:NO
                                             block:^(NSTimer*){
                                             }];
    NSRunLoop* loop = NSRunLoop.currentRunLoop;
    [loop addTimer:wake forMode:NSDefaultRunLoopMode];
    [loop runMode:NSDefaultRunLoopMode beforeDate:[NSDate dateWithTimeIntervalSinceNow:remaining.count()]];
    [wake invalidate];
  }
  return true;
}

}  // namespace

void runCommand(const std::function<void()>& command) {
  @autoreleasepool {
    command();
  }
}

void waitOnMainThreadUntil(std::chrono::steady_clock::time_point deadline) {
  while (serveMainRunLoopOnce(deadline)) {
  }
}

bool waitOnMainThreadFor(Signal& signal, std::chrono::steady_clock::time_point deadline) {
  // An empty block on the main queue ends the main run loop's current turn,
  // so that the wait sees the raised signal at once rather than at its
  // deadline.
  signal.onRaise([] {
    dispatch_async(dispatch_get_main_queue(), ^{
                   });
  });
  for (;;) {
    if (signal.raised()) return true;
    if (!serveMainRunLoopOnce(deadline)) return signal.raised();
  }
}

}  // namespace pimbridge::stores
