// The "reminder-lists" and "reminders" commands.
#pragma once

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "answer/result_map.hpp"
#include "reminders/reminder_row.hpp"
#include "stores/reminder_store.hpp"

namespace pimbridge::reminders {

// Prints every reminder list's identifier and title.
void listReminderLists();

// Exports the reminders of every list, or of the lists whose identifiers are
// given, one fetch per list.
void exportReminders(std::span<const std::string_view> listIdentifiers);

// The rows of one fetch: what a fetch completion gathers from the store's
// reminders, each carrying the title of the list it was fetched through.
std::vector<ReminderRow> rowsOf(std::optional<std::vector<stores::Reminder>> reminders, const std::string& listTitle);

// The answer of "reminders" for the rows of the fetched lists, in order. The
// rows are released as they are converted.
answer::ResultMap remindersResult(std::vector<std::vector<ReminderRow>>& fetched);

// The longest wait for one list's fetch, from the moment the fetch started.
inline constexpr std::chrono::duration<double> fetchWait{5.0};
// Once this many rows are gathered, no further list is fetched.
inline constexpr std::size_t rowThreshold = 1000;

}  // namespace pimbridge::reminders
