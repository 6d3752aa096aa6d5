// The "contacts" command.
#pragma once

#include <cstddef>

namespace pimbridge::contacts {

// Exports the contacts of the default container, at most contactCap of them.
void exportContacts();

inline constexpr std::size_t contactCap = 500;

}  // namespace pimbridge::contacts
