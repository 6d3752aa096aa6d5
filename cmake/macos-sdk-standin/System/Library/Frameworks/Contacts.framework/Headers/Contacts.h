// Declaration stubs of the Contacts interfaces that the macOS layer uses,
// written from the platform's published API for the stand-in SDK.
#pragma once

#import <Foundation/Foundation.h>

#ifdef __cplusplus
#define CONTACTS_EXTERN extern "C"
#else
#define CONTACTS_EXTERN extern
#endif

#pragma clang assume_nonnull begin

typedef NS_ENUM(NSInteger, CNEntityType) {
  CNEntityTypeContacts = 0,
};

// NOTE: the macOS 14 SDK names no state 4 ("limited" on other systems); the
// layer passes the raw value on and never names it.
typedef NS_ENUM(NSInteger, CNAuthorizationStatus) {
  CNAuthorizationStatusNotDetermined = 0,
  CNAuthorizationStatusRestricted = 1,
  CNAuthorizationStatusDenied = 2,
  CNAuthorizationStatusAuthorized = 3,
};

@protocol CNKeyDescriptor <NSObject, NSSecureCoding, NSCopying>
@end

@interface NSString (Contacts) <CNKeyDescriptor>
@end

CONTACTS_EXTERN NSString *const CNContactIdentifierKey;
CONTACTS_EXTERN NSString *const CNContactGivenNameKey;
CONTACTS_EXTERN NSString *const CNContactFamilyNameKey;
CONTACTS_EXTERN NSString *const CNContactPhoneNumbersKey;
CONTACTS_EXTERN NSString *const CNContactEmailAddressesKey;

@interface CNLabeledValue<ValueType : id <NSCopying, NSSecureCoding>> : NSObject <NSCopying, NSSecureCoding>
@property(readonly, copy) ValueType value;
@end

@interface CNPhoneNumber : NSObject <NSCopying, NSSecureCoding>
@property(readonly, copy) NSString *stringValue;
@end

@interface CNContact : NSObject <NSCopying, NSSecureCoding>
@property(readonly, copy) NSString *identifier;
@property(readonly, copy) NSString *givenName;
@property(readonly, copy) NSString *familyName;
@property(readonly, copy) NSArray<CNLabeledValue<CNPhoneNumber *> *> *phoneNumbers;
@property(readonly, copy) NSArray<CNLabeledValue<NSString *> *> *emailAddresses;
@end

@interface CNContact (Predicates)
+ (NSPredicate *)predicateForContactsInContainerWithIdentifier:(NSString *)containerIdentifier;
@end

@interface CNContactFetchRequest : NSObject <NSSecureCoding>
- (instancetype)init NS_UNAVAILABLE;
+ (instancetype)new NS_UNAVAILABLE;
- (instancetype)initWithKeysToFetch:(NSArray<id<CNKeyDescriptor>> *)keysToFetch NS_DESIGNATED_INITIALIZER;
@property(copy, nullable) NSPredicate *predicate;
@property(nonatomic) BOOL unifyResults;
@end

@interface CNContactStore : NSObject
+ (CNAuthorizationStatus)authorizationStatusForEntityType:(CNEntityType)entityType;
- (void)requestAccessForEntityType:(CNEntityType)entityType
                 completionHandler:(void (^)(BOOL granted, NSError *_Nullable error))completionHandler;
- (nullable NSString *)defaultContainerIdentifier;
- (BOOL)enumerateContactsWithFetchRequest:(CNContactFetchRequest *)fetchRequest
                                    error:(NSError *_Nullable *_Nullable)error
                               usingBlock:(void(NS_NOESCAPE ^)(CNContact *contact, BOOL *stop))block;
@end

#pragma clang assume_nonnull end
