// The "contacts" command.
#pragma once

#include <cstddef>
#include <vector>

#include "answer/result_map.hpp"
#include "contacts/contact_row.hpp"
#include "stores/contact_store.hpp"

namespace pimbridge::contacts {

// Exports the contacts of the default container, at most contactCap of them.
void exportContacts();

inline constexpr std::size_t contactCap = 500;

// The row of one delivered contact.
ContactRow rowOf(stores::Contact&& contact);

// The answer of "contacts" for the gathered rows.
answer::ResultMap contactsResult(const std::vector<ContactRow>& rows);

}  // namespace pimbridge::contacts
