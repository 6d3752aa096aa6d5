// Declaration stubs of the EventKit interfaces that the macOS layer uses,
// written from the platform's published API for the Linux compile check.
// The macOS 14 names carry their availability, so that an unguarded use fails.
#pragma once

#import <Foundation/Foundation.h>

#ifdef __cplusplus
#define EVENTKIT_EXTERN extern "C"
#else
#define EVENTKIT_EXTERN extern
#endif

#pragma clang assume_nonnull begin

enum EKEntityType : NSUInteger {
  EKEntityTypeEvent = 0,
  EKEntityTypeReminder = 1,
};

enum EKAuthorizationStatus : NSInteger {
  EKAuthorizationStatusNotDetermined = 0,
  EKAuthorizationStatusRestricted = 1,
  EKAuthorizationStatusDenied = 2,
  EKAuthorizationStatusFullAccess __attribute__((availability(macos, introduced = 14.0))) = 3,
  EKAuthorizationStatusWriteOnly __attribute__((availability(macos, introduced = 14.0))) = 4,
  EKAuthorizationStatusAuthorized __attribute__((availability(macos, introduced = 10.8, deprecated = 14.0))) = 3,
};

typedef void (^EKEventStoreRequestAccessCompletionHandler)(BOOL granted, NSError *_Nullable error);

@interface EKObject : NSObject
@end

@interface EKCalendar : EKObject
@property(nonatomic, readonly) NSString *calendarIdentifier;
@property(nonatomic, copy) NSString *title;
@end

@interface EKCalendarItem : EKObject
@property(nonatomic, readonly) NSString *calendarItemIdentifier;
@property(nonatomic, copy, null_resettable) NSString *title;
@end

@interface EKReminder : EKCalendarItem
@property(nonatomic, copy, nullable) NSDateComponents *dueDateComponents;
@property(nonatomic, getter=isCompleted) BOOL completed;
@end

@interface EKEventStore : NSObject
- (instancetype)init;
+ (EKAuthorizationStatus)authorizationStatusForEntityType:(EKEntityType)entityType;
- (void)requestFullAccessToRemindersWithCompletion:(EKEventStoreRequestAccessCompletionHandler)completion
    __attribute__((availability(macos, introduced = 14.0)));
- (void)requestAccessToEntityType:(EKEntityType)entityType
                       completion:(EKEventStoreRequestAccessCompletionHandler)completion
    __attribute__((availability(macos, introduced = 10.9, deprecated = 14.0)));
- (NSArray<EKCalendar *> *)calendarsForEntityType:(EKEntityType)entityType;
- (NSPredicate *)predicateForRemindersInCalendars:(nullable NSArray<EKCalendar *> *)calendars;
- (id)fetchRemindersMatchingPredicate:(NSPredicate *)predicate
                           completion:(void (^)(NSArray<EKReminder *> *_Nullable reminders))completion;
- (void)cancelFetchRequest:(id)fetchIdentifier;
@end

#pragma clang assume_nonnull end
