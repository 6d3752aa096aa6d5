// The reminder store as the tool sees it: the few operations of the platform's
// reminder framework that the commands call, in plain C++ types.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "stores/common.hpp"

namespace pimbridge::stores {

// A point in time, in seconds since 1970-01-01T00:00:00Z. Seconds are kept
// as a double so that the whole range of the platform's dates fits.
using PointInTime = std::chrono::sys_time<std::chrono::duration<double>>;

// The kind of calendar item a reminder store is asked about.
enum class ReminderEntityType : std::uint64_t { event = 0, reminder = 1 };

// One reminder list.
struct ReminderCalendar {
  std::string identifier;
  std::string title;
  // Where the list stood in the store's answer; lets a store find its own
  // list again even when two lists share an identifier.
  std::size_t position = 0;
};

// One reminder, as a fetch delivers it. The due date has already been
// converted from the reminder's date components by the platform; none when
// there are no components or they denote no point in time.
struct Reminder {
  std::string identifier;
  std::string title;
  std::optional<PointInTime> due;
  bool completed = false;
};

// Selects the reminders of some lists. Made by the store, opaque to the tool.
class ReminderPredicate {
 public:
  virtual ~ReminderPredicate() = default;
};

// Called once per fetch, on a thread of the store's choosing (the main thread
// included, inside a main-thread wait). No list at all means the store had no
// reminders to give.
using FetchCompletion = std::function<void(std::optional<std::vector<Reminder>> reminders)>;

// A fetch that has been started: what the store needs to cancel it. Made by
// the store, opaque to the tool.
class ReminderFetch {
 public:
  virtual ~ReminderFetch() = default;
};

class ReminderStore {
 public:
  virtual ~ReminderStore() = default;

  // macOS 14 and later.
  virtual void requestFullAccessToReminders(AccessCompletion completion) = 0;
  // Before macOS 14.
  virtual void requestAccess(ReminderEntityType type, AccessCompletion completion) = 0;

  virtual std::vector<ReminderCalendar> calendars(ReminderEntityType type) = 0;
  // The calendar must be one that calendars() gave on this store.
  virtual std::unique_ptr<ReminderPredicate> predicateForReminders(const ReminderCalendar& calendar) = 0;
  // Starts the fetch and returns at once; the completion runs later.
  virtual std::unique_ptr<ReminderFetch> fetchReminders(const ReminderPredicate& predicate,
                                                        FetchCompletion completion) = 0;
  // Cancels a fetch of this store that the tool stopped waiting for. Its
  // completion may still run (it may be running already); the tool ignores it.
  virtual void cancelFetch(const ReminderFetch& fetch) = 0;
};

// A new store instance for one command.
std::unique_ptr<ReminderStore> makeReminderStore();

// The reminder store's current state, read anew from the store class; no
// instance is needed.
RawStatus reminderAuthorizationStatus(ReminderEntityType type);

}  // namespace pimbridge::stores
