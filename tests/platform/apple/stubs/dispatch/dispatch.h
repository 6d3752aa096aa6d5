// Declaration stubs of the Dispatch interfaces that the macOS layer uses,
// written from the platform's published API for the Linux compile check.
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

FOUNDATION_EXTERN dispatch_queue_main_t dispatch_get_main_queue(void);
FOUNDATION_EXTERN void dispatch_async(dispatch_queue_t queue, dispatch_block_t block);

#pragma clang assume_nonnull end
