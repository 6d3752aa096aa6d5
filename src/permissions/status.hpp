// Status words for the stores' authorization states, the "authorization"
// report, and the permission gate in front of every reading command.
#pragma once

#include <string_view>

#include "stores/common.hpp"

namespace pimbridge::permissions {

// Total mappings from a raw state to its status word. They differ only at 4.
std::string_view reminderStatus(stores::RawStatus status);
std::string_view contactsStatus(stores::RawStatus status);

// Each store's word for its state, read anew from the store class.
std::string_view currentReminderStatus();
std::string_view currentContactsStatus();

// The "authorization" command: both stores' words, read anew from the store
// classes. Creates no store instance.
void reportAuthorization();

enum class GatedStore { reminders, contacts };

// Returns, having printed nothing, when the store is authorized; otherwise
// prints the "permission_required" error result and ends with status 2.
void passGate(GatedStore store);

}  // namespace pimbridge::permissions
