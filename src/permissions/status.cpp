#include "permissions/status.hpp"

#include "answer/output.hpp"
#include "stores/contact_store.hpp"
#include "stores/reminder_store.hpp"

namespace pimbridge::permissions {

namespace {

// The platform's raw states. Anything else, negative values included, has no
// meaning the tool knows of.
enum RawState : stores::RawStatus {
  notDetermined = 0,
  restricted = 1,
  denied = 2,
  authorized = 3,
  partial = 4,  // write-only reminders, limited contacts
};

std::string_view statusWord(stores::RawStatus status, std::string_view partialWord) {
  switch (status) {
    case notDetermined:
      return "not_determined";
    case restricted:
      return "restricted";
    case denied:
      return "denied";
    case authorized:
      return "authorized";
    case partial:
      return partialWord;
    default:
      return "unknown";
  }
}

}  // namespace

std::string_view reminderStatus(stores::RawStatus status) {
  return statusWord(status, "write_only");
}

std::string_view contactsStatus(stores::RawStatus status) {
  return statusWord(status, "limited");
}

std::string_view currentReminderStatus() {
  return reminderStatus(stores::reminderAuthorizationStatus(stores::ReminderEntityType::reminder));
}

std::string_view currentContactsStatus() {
  return contactsStatus(stores::contactAuthorizationStatus(stores::ContactEntityType::contacts));
}

void reportAuthorization() {
  // Reminders first, then contacts: the order the platform is asked in.
  const auto reminders = currentReminderStatus();
  const auto contacts = currentContactsStatus();
  answer::ResultMap result;
  result.setText("reminders", reminders);
  result.setText("contacts", contacts);
  answer::emit(result);
}

void passGate(GatedStore store) {
  const std::string_view word = store == GatedStore::reminders ? currentReminderStatus() : currentContactsStatus();
  if (word != "authorized") answer::emitError("permission_required");
}

}  // namespace pimbridge::permissions
