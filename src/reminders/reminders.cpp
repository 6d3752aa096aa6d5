#include "reminders/reminders.hpp"

#include <memory>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "answer/boundary.hpp"
#include "answer/output.hpp"
#include "permissions/status.hpp"
#include "reminders/iso.hpp"
#include "reminders/reminder_row.hpp"
#include "stores/platform.hpp"
#include "stores/reminder_store.hpp"
#include "stores/signal.hpp"

namespace pimbridge::reminders {

namespace {

using Rows = std::vector<ReminderRow>;

// Where one list's fetch completion leaves its rows. The store may call the
// completion after the command has stopped waiting for it, while the command
// goes on with other lists or ends; the slot is what both sides share, and
// the command closes it when its wait ends. A completion that finds its slot
// closed drops its rows: the command has already moved on without them.
struct FetchSlot {
  std::mutex mutex;
  bool open = true;
  bool arrived = false;  // the rows are in the slot
  Rows rows;
  stores::Signal delivered;
};

stores::FetchCompletion completionFor(std::shared_ptr<FetchSlot> slot, std::string listTitle) {
  return [slot = std::move(slot),
          listTitle = std::move(listTitle)](std::optional<std::vector<stores::Reminder>> reminders) {
    answer::atBoundary([&] {
      Rows rows = rowsOf(std::move(reminders), listTitle);
      {
        const std::lock_guard lock(slot->mutex);
        if (!slot->open) return;
        slot->rows = std::move(rows);
        slot->arrived = true;
      }
      slot->delivered.raise();
    });
  };
}

// Closes the slot and takes its rows; none when they had not arrived.
std::optional<Rows> closeSlot(FetchSlot& slot) {
  const std::lock_guard lock(slot.mutex);
  slot.open = false;
  if (!slot.arrived) return std::nullopt;
  return std::move(slot.rows);
}

}  // namespace

std::vector<ReminderRow> rowsOf(std::optional<std::vector<stores::Reminder>> reminders, const std::string& listTitle) {
  Rows rows;
  if (!reminders) return rows;
  rows.reserve(reminders->size());
  for (auto& r : *reminders) {
    rows.emplace_back(std::move(r.identifier), std::move(r.title), listTitle, iso(r.due), r.completed);
  }
  return rows;
}

answer::ResultMap remindersResult(std::vector<std::vector<ReminderRow>>& fetched) {
  std::size_t rowCount = 0;
  std::size_t textBytes = 0;
  for (const auto& rows : fetched) {
    rowCount += rows.size();
    for (const auto& row : rows) {
      textBytes += row.id().size() + row.title().size() + row.list().size() + (row.due() ? row.due()->size() : 0);
    }
  }
  answer::ResultMap result;
  result.reserve(rowCount * 6 + 1, textBytes);
  const auto list = result.setMapList("reminders");
  for (auto& rows : fetched) {
    for (const auto& row : rows) row.encode(result, result.appendMap(list));
    Rows().swap(rows);  // converted: free them before the JSON text is made
  }
  return result;
}

void listReminderLists() {
  auto store = stores::makeReminderStore();
  permissions::passGate(permissions::GatedStore::reminders);
  const auto lists = store->lists();
  answer::ResultMap result;
  const auto maps = result.setMapList("lists");
  for (const auto& list : lists) {
    const auto map = result.appendMap(maps);
    result.setText(map, "id", list.identifier);
    result.setText(map, "title", list.title);
  }
  answer::emit(result);
}

void exportReminders(std::span<const std::string_view> listIdentifiers) {
  auto store = stores::makeReminderStore();
  permissions::passGate(permissions::GatedStore::reminders);

  const std::unordered_set<std::string_view> filter(listIdentifiers.begin(), listIdentifiers.end());
  auto lists = store->lists();
  std::vector<stores::ReminderList> chosen;
  for (auto& list : lists) {
    if (filter.empty() || filter.contains(list.identifier)) chosen.push_back(std::move(list));
  }

  // The row list, kept as one block of rows per fetched list.
  std::vector<Rows> fetched;
  std::size_t rowCount = 0;
  for (const auto& list : chosen) {
    auto slot = std::make_shared<FetchSlot>();
    const auto fetch = store->fetch(list, completionFor(slot, list.title));
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(fetchWait);
    // NOTE: the wait serves the main thread's run loop, because a store may
    // deliver its completion there; a plain blocking wait would then time out
    // on every list and print an empty answer as a success.
    stores::waitOnMainThreadFor(slot->delivered, deadline);
    auto rows = closeSlot(*slot);
    if (!rows) {
      // Nothing came in time: the store may stop working on it.
      fetch->cancel();
      rows.emplace();
    }
    rowCount += rows->size();
    fetched.push_back(std::move(*rows));
    if (rowCount >= rowThreshold) break;
  }
  answer::emit(remindersResult(fetched));
}

}  // namespace pimbridge::reminders
