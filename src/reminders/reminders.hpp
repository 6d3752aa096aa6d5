// The "reminder-lists" and "reminders" commands.
#pragma once

#include <chrono>
#include <span>
#include <string_view>

namespace pimbridge::reminders {

// Prints every reminder list's identifier and title.
void listReminderLists();

// Exports the reminders of every list, or of the lists whose identifiers are
// given, one fetch per list.
void exportReminders(std::span<const std::string_view> listIdentifiers);

// The longest wait for one list's fetch, from the moment the fetch started.
inline constexpr std::chrono::duration<double> fetchWait{5.0};
// Once this many rows are gathered, no further list is fetched.
inline constexpr std::size_t rowThreshold = 1000;

}  // namespace pimbridge::reminders
