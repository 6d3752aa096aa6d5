#include "permissions/status.hpp"

#include "answer/output.hpp"
#include "stores/contact_store.hpp"
#include "stores/reminder_store.hpp"

namespace pimbridge::permissions {

std::string_view statusWord(stores::AccessState state) {
  switch (state) {
    case stores::AccessState::notDetermined:
      return "not_determined";
    case stores::AccessState::restricted:
      return "restricted";
    case stores::AccessState::denied:
      return "denied";
    case stores::AccessState::authorized:
      return "authorized";
    case stores::AccessState::writeOnly:
      return "write_only";
    case stores::AccessState::limited:
      return "limited";
    case stores::AccessState::unknown:
      return "unknown";
  }
  // A value outside the enumeration is no state the tool knows.
  return "unknown";
}

std::string_view currentReminderStatus() {
  return statusWord(stores::reminderAccessState());
}

std::string_view currentContactsStatus() {
  return statusWord(stores::contactAccessState());
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
