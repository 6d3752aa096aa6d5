// Declaration stubs of the EventKit interfaces that the macOS layer uses,
// written from the platform's published API for the stand-in SDK.
// The macOS 14 names carry their availability and the names deprecated in
// macOS 14 their deprecation, so that an unguarded use of either fails.
#pragma once

#import <Foundation/Foundation.h>

#pragma clang assume_nonnull begin

typedef NS_ENUM(NSUInteger, EKEntityType) {
  EKEntityTypeEvent = 0,
  EKEntityTypeReminder = 1,
};

typedef NS_ENUM(NSInteger, EKAuthorizationStatus) {
  EKAuthorizationStatusNotDetermined = 0,
  EKAuthorizationStatusRestricted = 1,
  EKAuthorizationStatusDenied = 2,
  EKAuthorizationStatusFullAccess __attribute__((availability(macos, introduced = 14.0))) = 3,
  EKAuthorizationStatusWriteOnly __attribute__((availability(macos, introduced = 14.0))) = 4,
  EKAuthorizationStatusAuthorized __attribute__((availability(macos, introduced = 10.9, deprecated = 14.0))) = 3,
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
@property(nonatomic, copy, null_unspecified) NSString *title;
@end

@interface EKReminder : EKCalendarItem
@property(nonatomic, copy, nullable) NSDateComponents *dueDateComponents;
@property(nonatomic, getter=isCompleted) BOOL completed;
@end

@interface EKEventStore : NSObject
- (id)init;
+ (EKAuthorizationStatus)authorizationStatusForEntityType:(EKEntityType)entityType;
- (void)requestFullAccessToRemindersWithCompletion:(EKEventStoreRequestAccessCompletionHandler)completion
    __attribute__((availability(macos, introduced = 14.0)));
- (void)requestAccessToEntityType:(EKEntityType)entityType
                       completion:(EKEventStoreRequestAccessCompletionHandler)completion
    __attribute__((availability(macos, introduced = 10.9, deprecated = 14.0,
                                message = "Use -requestFullAccessToEventsWithCompletion:, "
                                          "-requestWriteOnlyAccessToEventsWithCompletion:, or "
                                          "-requestFullAccessToRemindersWithCompletion:")));
- (NSArray<EKCalendar *> *)calendarsForEntityType:(EKEntityType)entityType;
- (NSPredicate *)predicateForRemindersInCalendars:(nullable NSArray<EKCalendar *> *)calendars;
- (id)fetchRemindersMatchingPredicate:(NSPredicate *)predicate
                           completion:(void (^)(NSArray<EKReminder *> *_Nullable reminders))completion;
- (void)cancelFetchRequest:(id)fetchIdentifier;
@end

#pragma clang assume_nonnull end
