// Declaration stubs of the Foundation interfaces that the macOS layer uses,
// written from the platform's published API so that the layer can be compiled
// for macOS on Linux. Only what the layer calls is here, with the platform's
// types, nullability, initialiser rules and availability (written where it is
// later than macOS 13 or deprecates something: the only cases a macOS 13
// build can see). Foundation.tbd beside this folder lists the names a link
// against them needs.
#pragma once

#include <stdbool.h>
#include <stddef.h>

#ifdef __cplusplus
#define FOUNDATION_EXTERN extern "C"
#else
#define FOUNDATION_EXTERN extern
#endif

#define NS_DESIGNATED_INITIALIZER __attribute__((objc_designated_initializer))
#define NS_UNAVAILABLE __attribute__((unavailable))
#define NS_NOESCAPE __attribute__((noescape))

// An enumeration with a fixed underlying type, declared first and then
// defined, as `typedef NS_ENUM(NSInteger, Name) { ... };` uses it. Open: other
// values than the named ones may arrive.
#define NS_ENUM(_type, _name)                                         \
  enum __attribute__((enum_extensibility(open))) _name : _type _name; \
  enum __attribute__((enum_extensibility(open))) _name : _type

typedef long NSInteger;
typedef unsigned long NSUInteger;
// NOTE: BOOL is the C99 bool on arm64 macOS and a signed char on x86_64
// macOS; code that mixes it with C++ bool must compile with both.
#if defined(__arm64__) || defined(__aarch64__)
typedef bool BOOL;
#else
typedef signed char BOOL;
#endif
typedef double NSTimeInterval;
typedef unsigned short unichar;

#ifdef __cplusplus
#define nil nullptr
#else
#define nil ((void *)0)
#endif
#define YES __objc_yes
#define NO __objc_no
#define NSIntegerMax __LONG_MAX__

typedef struct _NSRange {
  NSUInteger location;
  NSUInteger length;
} NSRange;

static inline NSRange NSMakeRange(NSUInteger location, NSUInteger length) {
  NSRange range;
  range.location = location;
  range.length = length;
  return range;
}

#pragma clang assume_nonnull begin

@protocol NSObject
@end

@protocol NSCopying
@end

@protocol NSSecureCoding
@end

__attribute__((objc_root_class))
@interface NSObject<NSObject>
+ (instancetype)alloc;
+ (instancetype)new;
- (instancetype)init;
- (id)copy;
@end

typedef struct {
  unsigned long state;
  id __unsafe_unretained _Nullable *_Nullable itemsPtr;
  unsigned long *_Nullable mutationsPtr;
  unsigned long extra[5];
} NSFastEnumerationState;

@protocol NSFastEnumeration
- (NSUInteger)countByEnumeratingWithState:(NSFastEnumerationState *)state
                                  objects:(id __unsafe_unretained _Nullable[_Nonnull])buffer
                                    count:(NSUInteger)len;
@end

@interface NSString : NSObject <NSCopying, NSSecureCoding>
@property(readonly) NSUInteger length;
+ (instancetype)stringWithCharacters:(const unichar *)characters length:(NSUInteger)length;
- (void)getCharacters:(unichar *)buffer range:(NSRange)range;
- (BOOL)isEqualToString:(NSString *)aString;
@end

@interface NSArray<__covariant ObjectType> : NSObject <NSCopying, NSSecureCoding, NSFastEnumeration>
@property(readonly) NSUInteger count;
+ (instancetype)arrayWithObjects:(const ObjectType _Nonnull[_Nonnull])objects count:(NSUInteger)cnt;
@end

@interface NSMutableArray<ObjectType> : NSArray <ObjectType>
- (void)addObject:(ObjectType)anObject;
@end

@interface NSException : NSObject
@end

@interface NSError : NSObject
@end

@interface NSPredicate : NSObject <NSSecureCoding, NSCopying>
@end

@interface NSDate : NSObject <NSCopying, NSSecureCoding>
@property(readonly) NSTimeInterval timeIntervalSince1970;
+ (instancetype)dateWithTimeIntervalSinceNow:(NSTimeInterval)secs;
+ (instancetype)dateWithTimeIntervalSince1970:(NSTimeInterval)secs;
@end

@interface NSTimeZone : NSObject <NSCopying, NSSecureCoding>
@property(class, readonly, copy) NSTimeZone *systemTimeZone;
- (NSInteger)secondsFromGMTForDate:(NSDate *)aDate;
@end

typedef NSString *NSCalendarIdentifier;
FOUNDATION_EXTERN NSCalendarIdentifier const NSCalendarIdentifierGregorian;

@class NSDateComponents;

@interface NSCalendar : NSObject <NSCopying, NSSecureCoding>
- (nullable id)initWithCalendarIdentifier:(NSCalendarIdentifier)ident NS_DESIGNATED_INITIALIZER;
@property(readonly, copy) NSCalendarIdentifier calendarIdentifier;
@property(copy) NSTimeZone *timeZone;
- (nullable NSDate *)dateFromComponents:(NSDateComponents *)comps;
@end

enum {
  NSDateComponentUndefined = NSIntegerMax,
};

@interface NSDateComponents : NSObject <NSCopying, NSSecureCoding>
@property(nullable, copy) NSCalendar *calendar;
@property(nullable, copy) NSTimeZone *timeZone;
@property NSInteger era;
@property NSInteger year;
@property NSInteger month;
@property NSInteger day;
@property NSInteger hour;
@property NSInteger minute;
@property NSInteger second;
@property(getter=isLeapMonth) BOOL leapMonth;
@end

typedef struct {
  NSInteger majorVersion;
  NSInteger minorVersion;
  NSInteger patchVersion;
} NSOperatingSystemVersion;

@interface NSProcessInfo : NSObject
@property(class, readonly, strong) NSProcessInfo *processInfo;
@property(readonly) NSOperatingSystemVersion operatingSystemVersion;
- (BOOL)isOperatingSystemAtLeastVersion:(NSOperatingSystemVersion)version;
@end

@interface NSTimer : NSObject
+ (NSTimer *)timerWithTimeInterval:(NSTimeInterval)interval repeats:(BOOL)repeats block:(void (^)(NSTimer *timer))block;
- (void)invalidate;
@end

typedef NSString *NSRunLoopMode;
FOUNDATION_EXTERN NSRunLoopMode const NSDefaultRunLoopMode;

@interface NSRunLoop : NSObject
@property(class, readonly, strong) NSRunLoop *currentRunLoop;
- (void)addTimer:(NSTimer *)timer forMode:(NSRunLoopMode)mode;
- (BOOL)runMode:(NSRunLoopMode)mode beforeDate:(NSDate *)limitDate;
@end

#pragma clang assume_nonnull end
