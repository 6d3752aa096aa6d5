// The contact store as the tool sees it: its state, its access request, and
// the contacts of its default container, in plain C++ types.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "stores/access.hpp"

namespace pimbridge::stores {

// One contact with what the tool reads of it. A name the store does not give
// is none.
struct Contact {
  std::string identifier;
  std::optional<std::string> givenName;
  std::optional<std::string> familyName;
  std::vector<std::string> phoneNumbers;  // each number's text form, in the store's order
  std::vector<std::string> emailAddresses;
};

// Called synchronously once per delivered contact; setting stop to true ends
// the delivery. The contact may be moved from.
using ContactStep = std::function<void(Contact&& contact, bool& stop)>;

class ContactStore {
 public:
  virtual ~ContactStore() = default;

  // Asks the user for access to contacts, with the platform's prompt where it
  // has one.
  virtual void requestAccess(AccessCompletion completion) = 0;
  // Delivers the contacts of the store's default container (of the container
  // with the empty identifier when the store names none), one at a time, in
  // the store's order, during the call. True on success; false when the
  // enumeration failed, after any number of steps.
  virtual bool enumerateContacts(const ContactStep& step) = 0;
};

// A new store instance for one command.
std::unique_ptr<ContactStore> makeContactStore();

// The contact store's current state, read anew; no instance is needed.
AccessState contactAccessState();

}  // namespace pimbridge::stores
