// The reminder store as the tool sees it: its state, its access request, its
// lists, and a fetch of one list's reminders, in plain C++ types.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "stores/access.hpp"

namespace pimbridge::stores {

// A point in time, in seconds since 1970-01-01T00:00:00Z. Seconds are kept
// as a double so that the whole range of the platform's dates fits.
using PointInTime = std::chrono::sys_time<std::chrono::duration<double>>;

// One reminder list.
struct ReminderList {
  std::string identifier;
  std::string title;
  // Where the list stood in the store's answer; lets a store find its own
  // list again even when two lists share an identifier.
  std::size_t position = 0;
};

// One reminder, as a fetch delivers it. The due date has already been turned
// into a point in time by the store; none when there is no due date or it
// denotes no point in time.
struct Reminder {
  std::string identifier;
  std::string title;
  std::optional<PointInTime> due;
  bool completed = false;
};

// Called once per fetch, on a thread of the store's choosing (the main thread
// included, inside a main-thread wait). No list at all means the store had no
// reminders to give.
using FetchCompletion = std::function<void(std::optional<std::vector<Reminder>> reminders)>;

// A fetch that has been started.
class ReminderFetch {
 public:
  virtual ~ReminderFetch() = default;
  // Tells the store that the tool stopped waiting for this fetch, so that it
  // may stop working on it. The completion may still run (it may be running
  // already); the tool ignores it.
  virtual void cancel() = 0;
};

class ReminderStore {
 public:
  virtual ~ReminderStore() = default;

  // Asks the user for full access to reminders, with the platform's prompt
  // where it has one.
  virtual void requestAccess(AccessCompletion completion) = 0;
  // The reminder lists, in the store's order.
  virtual std::vector<ReminderList> lists() = 0;
  // Starts fetching the reminders of one list that lists() gave on this
  // store, and returns at once; the completion runs later.
  virtual std::unique_ptr<ReminderFetch> fetch(const ReminderList& list, FetchCompletion completion) = 0;
};

// A new store instance for one command.
std::unique_ptr<ReminderStore> makeReminderStore();

// The reminder store's current state, read anew; no instance is needed.
AccessState reminderAccessState();

}  // namespace pimbridge::stores
