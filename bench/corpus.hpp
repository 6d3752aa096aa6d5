// Deterministic data for the benchmarks: reminder and contact rows shaped like
// what a real store delivers, and the result maps the commands make of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "answer/result_map.hpp"
#include "stores/contact_store.hpp"
#include "stores/reminder_store.hpp"

namespace pimbridge::bench {

// The reminders of one list, as one fetch delivers them.
struct ListFetch {
  std::string title;
  std::vector<stores::Reminder> reminders;
};

// `count` reminders spread over a handful of lists, in store order. The same
// seed gives the same rows on every machine.
std::vector<ListFetch> reminderLists(std::size_t count, std::uint64_t seed);

// `count` reminders in one list.
std::vector<stores::Reminder> reminders(std::size_t count, std::uint64_t seed);

// `count` contacts of the default container.
std::vector<stores::Contact> contacts(std::size_t count, std::uint64_t seed);

// The answers of "reminders" and "contacts" for those rows, made by the
// tool's own export code.
answer::ResultMap remindersMap(std::vector<ListFetch> lists);
answer::ResultMap contactsMap(std::vector<stores::Contact> contacts);

inline constexpr std::uint64_t corpusSeed = 0x5EED'2024'0305ull;

}  // namespace pimbridge::bench
