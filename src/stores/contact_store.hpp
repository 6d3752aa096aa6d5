// The contact store as the tool sees it: the few operations of the platform's
// contacts framework that the commands call, in plain C++ types.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "stores/common.hpp"

namespace pimbridge::stores {

enum class ContactEntityType : std::int64_t { contacts = 0 };

// The contact properties a fetch request can ask for.
enum class ContactKey {
  identifier,
  givenName,
  familyName,
  phoneNumbers,
  emailAddresses,
};

// One contact with the properties that were asked for. A name the store does
// not give is empty here; a property that was not asked for stays empty.
struct Contact {
  std::string identifier;
  std::optional<std::string> givenName;
  std::optional<std::string> familyName;
  std::vector<std::string> phoneNumbers;  // each number's text form
  std::vector<std::string> emailAddresses;
};

// Selects the contacts of one container. Made by the platform, opaque to the tool.
class ContactPredicate {
 public:
  virtual ~ContactPredicate() = default;
};

struct ContactFetchRequest {
  explicit ContactFetchRequest(std::vector<ContactKey> keysToFetch) : keysToFetch(std::move(keysToFetch)) {}

  std::vector<ContactKey> keysToFetch;
  std::shared_ptr<const ContactPredicate> predicate;
};

// Called synchronously once per delivered contact; setting stop to true ends
// the delivery. The contact may be moved from.
using ContactStep = std::function<void(Contact&& contact, bool& stop)>;

class ContactStore {
 public:
  virtual ~ContactStore() = default;

  virtual void requestAccess(ContactEntityType type, AccessCompletion completion) = 0;
  virtual std::optional<std::string> defaultContainerIdentifier() = 0;
  // True on success; false when the enumeration failed, after any number of steps.
  virtual bool enumerateContacts(const ContactFetchRequest& request, const ContactStep& step) = 0;
};

std::unique_ptr<ContactStore> makeContactStore();

// The contact store's current state, read anew from the store class.
RawStatus contactAuthorizationStatus(ContactEntityType type);

// A predicate for the contacts of the container with this identifier (a class
// operation of the platform's contact type; no store instance is needed).
std::unique_ptr<ContactPredicate> predicateForContactsInContainer(const std::string& containerIdentifier);

}  // namespace pimbridge::stores
