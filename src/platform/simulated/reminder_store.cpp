// The simulated reminder store: the world's lists, fetched on threads of their
// own or on the main thread, after the delays the world gives.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/macos_authorization.hpp"
#include "platform/simulated/conversions.hpp"
#include "platform/simulated/session.hpp"
#include "stores/reminder_store.hpp"

namespace pimbridge::stores {

namespace {

using simulated::trace;
using simulated::world;

// NOTE: a cancelled fetch still completes when it falls due, as a store that
// is already delivering, or that ignores the cancel, would: late completions
// must stay harmless.
class SimReminderFetch final : public ReminderFetch {
 public:
  explicit SimReminderFetch(const simulated::SimList& list) : list_(list) {}
  void cancel() override { trace("reminders.cancel", list_.id); }

 private:
  const simulated::SimList& list_;
};

std::vector<Reminder> delivered(const simulated::SimList& list) {
  std::vector<Reminder> reminders;
  reminders.reserve(list.reminders.size() + list.generate);
  for (const auto& r : list.reminders) {
    reminders.push_back(Reminder{r.id, r.title, r.due ? simulated::convertDue(*r.due) : std::nullopt, r.completed});
  }
  for (std::uint64_t k = 1; k <= list.generate; ++k) {
    const std::string number = std::to_string(k);
    reminders.push_back(Reminder{list.id + "-" + number, "Reminder " + number, std::nullopt, false});
  }
  return reminders;
}

class SimReminderStore final : public ReminderStore {
 public:
  // As on macOS: the full-access request from version 14 on, the older
  // request for reminders before it.
  void requestAccess(AccessCompletion completion) override {
    trace("os.version");
    trace(world().osVersion.major >= 14 ? "reminders.request-full-access" : "reminders.request-access");
    simulated::answerLater(world().reminders.request, simulated::reminderState, std::move(completion));
  }

  std::vector<ReminderList> lists() override {
    trace("reminders.calendars");
    std::vector<ReminderList> out;
    out.reserve(world().reminders.lists.size());
    for (std::size_t i = 0; i < world().reminders.lists.size(); ++i) {
      const auto& list = world().reminders.lists[i];
      out.push_back(ReminderList{list.id, list.title, i});
    }
    return out;
  }

  std::unique_ptr<ReminderFetch> fetch(const ReminderList& chosen, FetchCompletion completion) override {
    const auto& list = world().reminders.lists.at(chosen.position);
    trace("reminders.predicate", chosen.identifier);
    trace("reminders.fetch", list.id);
    auto fetch = std::make_unique<SimReminderFetch>(list);
    if (list.fetch == simulated::FetchMode::never) return fetch;
    auto complete = [&list, completion = std::move(completion)] {
      if (list.fetch == simulated::FetchMode::absent) {
        completion(std::nullopt);
      } else {
        completion(delivered(list));
      }
      trace("reminders.fetch-completed", list.id);
    };
    if (list.deliverOn == simulated::DeliverOn::main) {
      simulated::onMainThread(list.afterMs, std::move(complete));
    } else {
      simulated::later(list.afterMs, std::move(complete));
    }
    return fetch;
  }
};

}  // namespace

std::unique_ptr<ReminderStore> makeReminderStore() {
  trace("reminders.init");
  return std::make_unique<SimReminderStore>();
}

AccessState reminderAccessState() {
  trace("reminders.status");
  return macos::reminderStatus(simulated::reminderState.load());
}

}  // namespace pimbridge::stores
