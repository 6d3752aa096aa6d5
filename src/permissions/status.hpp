// Status words for the stores' authorization states, the "authorization"
// report, and the permission gate in front of every reading command.
#pragma once

#include <string_view>

#include "stores/access.hpp"

namespace pimbridge::permissions {

// The status word of a state: "not_determined", "restricted", "denied",
// "authorized", "write_only", "limited" or "unknown".
std::string_view statusWord(stores::AccessState state);

// Each store's word for its state, read anew.
std::string_view currentReminderStatus();
std::string_view currentContactsStatus();

// The "authorization" command: both stores' words, read anew. Creates no
// store instance.
void reportAuthorization();

enum class GatedStore { reminders, contacts };

// Returns, having printed nothing, when the store is authorized; otherwise
// prints the "permission_required" error result and ends with status 2.
void passGate(GatedStore store);

}  // namespace pimbridge::permissions
