// The contact store on macOS: the Contacts framework's CNContactStore behind
// the tool's ContactStore, converting every answer to the seam's C++ values
// at once.
#import <Contacts/Contacts.h>
#import <Foundation/Foundation.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "answer/boundary.hpp"
#include "platform/apple/at_most_once.hpp"
#include "platform/apple/conversions.hpp"
#include "platform/macos_authorization.hpp"
#include "stores/contact_store.hpp"

#if !__has_feature(objc_arc)
#error "This file requires ARC support."
#endif

// No Objective-C exception leaves this file: each call into the framework is
// wrapped, and a call that raised ends in the nearest outcome the seam
// defines (a refused request, no container, a failed enumeration). No C++
// exception enters the framework's frames: every block it calls runs its
// work inside answer::atBoundary.

namespace pimbridge::stores {
namespace {

// The properties the tool reads of a contact, in the order it asks for them.
// NOTE: reading a property that the fetch request did not ask for raises
// CNPropertyNotFetchedException, so these are exactly what contactFrom reads.
NSArray<id<CNKeyDescriptor>>* _Nonnull keysToFetch() {
  return @[
    CNContactIdentifierKey, CNContactGivenNameKey, CNContactFamilyNameKey, CNContactPhoneNumbersKey,
    CNContactEmailAddressesKey
  ];
}

Contact contactFrom(CNContact* _Nonnull contact) {
  Contact result;
  result.identifier = apple::stdString(contact.identifier);
  result.givenName = apple::stdString(contact.givenName);
  result.familyName = apple::stdString(contact.familyName);
  for (CNLabeledValue<CNPhoneNumber*>* entry in contact.phoneNumbers) {
    result.phoneNumbers.push_back(apple::stdString(entry.value.stringValue));
  }
  for (CNLabeledValue<NSString*>* entry in contact.emailAddresses) {
    result.emailAddresses.push_back(apple::stdString(entry.value));
  }
  return result;
}

// The identifier of the store's default container; the empty identifier
// when the store gives none.
NSString* _Nonnull defaultContainer(CNContactStore* _Nonnull store) {
  @try {
    NSString* identifier = [store defaultContainerIdentifier];
    return identifier != nil ? identifier : @"";
  } @catch (id) {
    return @"";
  }
}

class ContactsContactStore final : public ContactStore {
 public:
  void requestAccess(AccessCompletion completion) override {
    const auto done = apple::atMostOnce(std::move(completion));
    @try {
      [store_ requestAccessForEntityType:CNEntityTypeContacts
                       completionHandler:^(BOOL granted, NSError* _Nullable error) {
                         answer::atBoundary([&] { done(granted, error != nil); });
                       }];
    } @catch (id) {
      done(false, true);
    }
  }

  bool enumerateContacts(const ContactStep& step) override {
    NSPredicate* selection = nil;
    @try {
      selection = [CNContact predicateForContactsInContainerWithIdentifier:defaultContainer(store_)];
    } @catch (id) {
      selection = nil;
    }
    // Without its predicate the request would widen to every contact.
    if (selection == nil) return false;

    // The enumeration is synchronous, so the block may point at the caller's step.
    const ContactStep* const callerStep = &step;
    bool readFailed = false;
    bool* const failed = &readFailed;
    void (^deliver)(CNContact*, BOOL*) = ^(CNContact* contact, BOOL* stop) {
      answer::atBoundary([&] {
        std::optional<Contact> converted;
        // What reading one contact autoreleases is released before the next,
        // so that memory stays flat over any number of contacts.
        @autoreleasepool {
          @try {
            converted = contactFrom(contact);
          } @catch (id) {
            // Counted as a failure of the enumeration, which stops here rather
            // than raising through the framework's own frames.
            *failed = true;
            *stop = YES;
            return;
          }
        }
        bool stopRequested = *stop;
        (*callerStep)(std::move(*converted), stopRequested);
        *stop = stopRequested;
      });
    };

    @try {
      CNContactFetchRequest* fetch = [[CNContactFetchRequest alloc] initWithKeysToFetch:keysToFetch()];
      // Nothing else is set on the request. unifyResults stays at its default
      // (YES): a person linked across accounts comes once, with the unified
      // identifier and the numbers and addresses of every linked card.
      fetch.predicate = selection;
      NSError* error = nil;
      const BOOL succeeded = [store_ enumerateContactsWithFetchRequest:fetch error:&error usingBlock:deliver];
      return succeeded && !readFailed;
    } @catch (id) {
      return false;
    }
  }

 private:
  CNContactStore* store_ = [[CNContactStore alloc] init];
};

}  // namespace

std::unique_ptr<ContactStore> makeContactStore() {
  return std::make_unique<ContactsContactStore>();
}

AccessState contactAccessState() {
  @try {
    return macos::contactsStatus(
        static_cast<std::int64_t>([CNContactStore authorizationStatusForEntityType:CNEntityTypeContacts]));
  } @catch (id) {
    return AccessState::unknown;
  }
}

}  // namespace pimbridge::stores
