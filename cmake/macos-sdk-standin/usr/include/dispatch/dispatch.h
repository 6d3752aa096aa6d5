// Declaration stubs of the Dispatch interfaces that the macOS layer uses,
// written from the platform's published API for the stand-in SDK.
// Under ARC, dispatch objects are Objective-C objects, and the main queue has
// a type of its own, a kind of serial queue.
#pragma once

#import <Foundation/Foundation.h>

#pragma clang assume_nonnull begin

@protocol OS_dispatch_object <NSObject>
@end
@protocol OS_dispatch_queue <OS_dispatch_object>
@end
@protocol OS_dispatch_queue_serial <OS_dispatch_queue>
@end
@protocol OS_dispatch_queue_main <OS_dispatch_queue_serial>
@end
typedef NSObject<OS_dispatch_queue> *dispatch_queue_t;
typedef NSObject<OS_dispatch_queue_serial> *dispatch_queue_serial_t;
typedef NSObject<OS_dispatch_queue_main> *dispatch_queue_main_t;
typedef void (^dispatch_block_t)(void);

// The main queue is an object that libdispatch exports, and
// dispatch_get_main_queue() is an inline function that gives its address, so
// a binary imports _dispatch_main_q and no function of that name.
struct dispatch_queue_s;
FOUNDATION_EXTERN struct dispatch_queue_s _dispatch_main_q;
static inline dispatch_queue_main_t dispatch_get_main_queue(void) {
  return (__bridge dispatch_queue_main_t)(void *)&_dispatch_main_q;
}
FOUNDATION_EXTERN void dispatch_async(dispatch_queue_t queue, dispatch_block_t block);

#pragma clang assume_nonnull end
