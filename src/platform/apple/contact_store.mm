// The contact store on macOS: the Contacts framework's CNContactStore behind
// the tool's ContactStore, converting every answer to the seam's C++ values
// at once.
#import <Contacts/Contacts.h>
#import <Foundation/Foundation.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "answer/boundary.hpp"
#include "platform/apple/at_most_once.hpp"
#include "platform/apple/conversions.hpp"
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

class ContactsPredicate final : public ContactPredicate {
 public:
  explicit ContactsPredicate(NSPredicate* _Nullable predicate) : predicate_(predicate) {}

  // Nil when the predicate could not be made: an enumeration with it fails.
  NSPredicate* _Nullable predicate() const { return predicate_; }

 private:
  NSPredicate* _Nullable predicate_;
};

// NOTE: reading a contact property that the fetch request did not ask for
// raises CNPropertyNotFetchedException, so a contact is read only for the
// keys that were asked for.
struct AskedKeys {
  explicit AskedKeys(const std::vector<ContactKey>& keys) {
    auto asked = [&keys](ContactKey key) { return std::find(keys.begin(), keys.end(), key) != keys.end(); };
    identifier = asked(ContactKey::identifier);
    givenName = asked(ContactKey::givenName);
    familyName = asked(ContactKey::familyName);
    phoneNumbers = asked(ContactKey::phoneNumbers);
    emailAddresses = asked(ContactKey::emailAddresses);
  }

  bool identifier;
  bool givenName;
  bool familyName;
  bool phoneNumbers;
  bool emailAddresses;
};

NSString* _Nullable frameworkKey(ContactKey key) {
  switch (key) {
    case ContactKey::identifier:
      return CNContactIdentifierKey;
    case ContactKey::givenName:
      return CNContactGivenNameKey;
    case ContactKey::familyName:
      return CNContactFamilyNameKey;
    case ContactKey::phoneNumbers:
      return CNContactPhoneNumbersKey;
    case ContactKey::emailAddresses:
      return CNContactEmailAddressesKey;
  }
  // A value outside the enumeration names no property and is left out.
  return nil;
}

// The framework's keys for the request's keys, in the request's order.
NSArray<id<CNKeyDescriptor>>* _Nonnull keyDescriptors(const std::vector<ContactKey>& keys) {
  NSMutableArray<id<CNKeyDescriptor>>* descriptors = [[NSMutableArray alloc] init];
  for (ContactKey key : keys) {
    if (NSString* descriptor = frameworkKey(key)) [descriptors addObject:descriptor];
  }
  return descriptors;
}

Contact contactFrom(CNContact* _Nonnull contact, const AskedKeys& asked) {
  Contact result;
  if (asked.identifier) result.identifier = apple::stdString(contact.identifier);
  if (asked.givenName) result.givenName = apple::stdString(contact.givenName);
  if (asked.familyName) result.familyName = apple::stdString(contact.familyName);
  if (asked.phoneNumbers) {
    for (CNLabeledValue<CNPhoneNumber*>* entry in contact.phoneNumbers) {
      result.phoneNumbers.push_back(apple::stdString(entry.value.stringValue));
    }
  }
  if (asked.emailAddresses) {
    for (CNLabeledValue<NSString*>* entry in contact.emailAddresses) {
      result.emailAddresses.push_back(apple::stdString(entry.value));
    }
  }
  return result;
}

class ContactsContactStore final : public ContactStore {
 public:
  void requestAccess(ContactEntityType type, AccessCompletion completion) override {
    const auto done = apple::atMostOnce(std::move(completion));
    @try {
      [store_ requestAccessForEntityType:static_cast<CNEntityType>(type)
                       completionHandler:^(BOOL granted, NSError* _Nullable error) {
                         answer::atBoundary([&] { done(granted, error != nil); });
                       }];
    } @catch (id) {
      done(false, true);
    }
  }

  std::optional<std::string> defaultContainerIdentifier() override {
    @try {
      NSString* identifier = [store_ defaultContainerIdentifier];
      if (identifier == nil) return std::nullopt;
      return apple::stdString(identifier);
    } @catch (id) {
      return std::nullopt;
    }
  }

  bool enumerateContacts(const ContactFetchRequest& request, const ContactStep& step) override {
    NSPredicate* selection = nil;
    if (request.predicate != nullptr) {
      const auto* own = dynamic_cast<const ContactsPredicate*>(request.predicate.get());
      selection = own != nullptr ? own->predicate() : nil;
      // A predicate that is not a usable one of ours must not widen the
      // request to every contact.
      if (selection == nil) return false;
    }

    const AskedKeys asked(request.keysToFetch);
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
            converted = contactFrom(contact, asked);
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
      CNContactFetchRequest* fetch =
          [[CNContactFetchRequest alloc] initWithKeysToFetch:keyDescriptors(request.keysToFetch)];
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

RawStatus contactAuthorizationStatus(ContactEntityType type) {
  @try {
    return static_cast<RawStatus>([CNContactStore authorizationStatusForEntityType:static_cast<CNEntityType>(type)]);
  } @catch (id) {
    return apple::kUnreadableStatus;
  }
}

std::unique_ptr<ContactPredicate> predicateForContactsInContainer(const std::string& containerIdentifier) {
  NSPredicate* predicate = nil;
  @try {
    predicate = [CNContact predicateForContactsInContainerWithIdentifier:apple::nsString(containerIdentifier)];
  } @catch (id) {
    predicate = nil;
  }
  return std::make_unique<ContactsPredicate>(predicate);
}

}  // namespace pimbridge::stores
