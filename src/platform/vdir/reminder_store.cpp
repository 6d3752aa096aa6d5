// The reminder store on a vdir: each collection folder under the task roots
// is a list, and each fetch reads one folder's .ics files on a thread of its
// own, parsing them with libical, so that a hung file system holds only that
// thread.
#include <libical/ical.h>

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/vdir/conversions.hpp"
#include "platform/vdir/session.hpp"
#include "stores/reminder_store.hpp"

namespace pimbridge::stores {

namespace {

// NOTE: libical keeps its zone cache and its error state in globals; a fetch
// given up at the deadline may still be parsing when the next one starts.
std::mutex libicalUse;

struct ComponentRelease {
  void operator()(icalcomponent* component) const { icalcomponent_free(component); }
};
using Component = std::unique_ptr<icalcomponent, ComponentRelease>;

std::string icalText(const char* text) {
  return text != nullptr ? std::string(text) : std::string();
}

calendar::UtcOffsetAt offsetsOf(icaltimezone* zone) {
  return [zone](std::int64_t utcSeconds) -> std::int64_t {
    icaltimetype moment =
        icaltime_from_timet_with_zone(static_cast<time_t>(utcSeconds), 0, icaltimezone_get_utc_timezone());
    return icaltimezone_get_utc_offset_of_utc_time(zone, &moment, nullptr);
  };
}

// The zones that a list's files define themselves, one per distinct
// VTIMEZONE text. NOTE: libical works out a zone's changes of offset from its
// rules anew for every zone object, which costs about a millisecond for
// yearly rules; a sync tool writes the same VTIMEZONE into every file, so one
// object per distinct text serves the whole list.
class OwnZones {
 public:
  OwnZones() = default;
  OwnZones(const OwnZones&) = delete;
  OwnZones& operator=(const OwnZones&) = delete;
  ~OwnZones() {
    const std::lock_guard lock(libicalUse);
    for (auto& [text, zone] : zones_) icaltimezone_free(zone, 1);
  }

  // The zone of the calendar's VTIMEZONE with this TZID; null without one.
  icaltimezone* named(icalcomponent* calendar, const char* tzid) {
    // An iterator of its own, so that no caller's walk through the
    // calendar's components with its one built-in iterator is disturbed.
    icalcompiter blocks = icalcomponent_begin_component(calendar, ICAL_VTIMEZONE_COMPONENT);
    for (icalcomponent* block = icalcompiter_deref(&blocks); block != nullptr; block = icalcompiter_next(&blocks)) {
      icalproperty* id = icalcomponent_get_first_property(block, ICAL_TZID_PROPERTY);
      const char* blockId = id != nullptr ? icalproperty_get_tzid(id) : nullptr;
      if (blockId == nullptr || std::strcmp(blockId, tzid) != 0) continue;
      char* text = icalcomponent_as_ical_string_r(block);
      std::string key = icalText(text);
      icalmemory_free_buffer(text);
      auto found = zones_.find(key);
      if (found != zones_.end()) return found->second;
      icaltimezone* zone = icaltimezone_new();
      if (zone == nullptr) return nullptr;
      if (icaltimezone_set_component(zone, icalcomponent_new_clone(block)) == 0) {
        icaltimezone_free(zone, 1);
        return nullptr;
      }
      zones_.emplace(std::move(key), zone);
      return zone;
    }
    return nullptr;
  }

 private:
  std::map<std::string, icaltimezone*> zones_;
};

// The zone a TZID names: the file's own VTIMEZONE, else the system's zone
// database; null when neither knows it.
icaltimezone* zoneNamed(icalcomponent* calendar, const char* tzid, OwnZones& own) {
  if (calendar != nullptr) {
    if (icaltimezone* defined = own.named(calendar, tzid)) return defined;
  }
  if (icaltimezone* system = icaltimezone_get_builtin_timezone(tzid)) return system;
  return icaltimezone_get_builtin_timezone_from_tzid(tzid);
}

std::optional<PointInTime> dueOf(icalcomponent* calendar, icalcomponent* task, const calendar::UtcOffsetAt& local,
                                 OwnZones& own) {
  icalproperty* property = icalcomponent_get_first_property(task, ICAL_DUE_PROPERTY);
  if (property == nullptr) return std::nullopt;
  const icaltimetype time = icalproperty_get_due(property);
  if (icaltime_is_null_time(time)) return std::nullopt;
  vdir::DueReading due;
  due.clock.year = time.year;
  due.clock.month = time.month;
  due.clock.day = time.day;
  if (time.is_date) {
    due.form = vdir::DueForm::date;
    return vdir::dueMoment(due, nullptr, local);
  }
  due.clock.hour = time.hour;
  due.clock.minute = time.minute;
  due.clock.second = time.second;
  icalparameter* zoneParameter = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
  const char* tzid = zoneParameter != nullptr ? icalparameter_get_tzid(zoneParameter) : nullptr;
  if (icaltime_is_utc(time)) {
    due.form = vdir::DueForm::utc;
    return vdir::dueMoment(due, nullptr, local);
  }
  if (tzid == nullptr || *tzid == '\0') {
    due.form = vdir::DueForm::floating;
    return vdir::dueMoment(due, nullptr, local);
  }
  due.form = vdir::DueForm::zoned;
  icaltimezone* zone = zoneNamed(calendar, tzid, own);
  if (zone == nullptr) return std::nullopt;
  const calendar::UtcOffsetAt offsets = offsetsOf(zone);
  return vdir::dueMoment(due, &offsets, local);
}

Reminder reminderFrom(icalcomponent* calendar, icalcomponent* task, const std::string& fallbackUid,
                      const calendar::UtcOffsetAt& local, OwnZones& own) {
  Reminder reminder;
  std::string recurrence;
  if (icalproperty* property = icalcomponent_get_first_property(task, ICAL_RECURRENCEID_PROPERTY)) {
    const icaltimetype instance = icalproperty_get_recurrenceid(property);
    if (!icaltime_is_null_time(instance)) {
      char* text = icaltime_as_ical_string_r(instance);
      recurrence = icalText(text);
      icalmemory_free_buffer(text);
    }
  }
  const char* uid = icalcomponent_get_uid(task);
  reminder.identifier = vdir::taskIdentifier(uid != nullptr && *uid != '\0' ? uid : fallbackUid, recurrence);
  reminder.title = icalText(icalcomponent_get_summary(task));
  reminder.due = dueOf(calendar, task, local, own);
  // Either alone means the task is done.
  reminder.completed = icalcomponent_get_status(task) == ICAL_STATUS_COMPLETED ||
                       icalcomponent_get_first_property(task, ICAL_COMPLETED_PROPERTY) != nullptr;
  return reminder;
}

// The tasks of one item file, appended; nothing when the file's text is not
// clean, does not parse, or is not one item (one calendar whose tasks share
// one UID).
void readTasks(const std::string& path, const std::string& name, const calendar::UtcOffsetAt& local, OwnZones& own,
               std::vector<Reminder>& reminders) {
  const auto text = vdir::readItemFile(path);
  if (!text || !vdir::isCleanItemText(*text)) return;
  const std::lock_guard lock(libicalUse);
  Component root(icalparser_parse_string(text->c_str()));
  if (!root) return;
  icalcomponent* calendar = root.get();
  std::vector<icalcomponent*> tasks;
  switch (icalcomponent_isa(root.get())) {
    case ICAL_VCALENDAR_COMPONENT:
      for (icalcomponent* task = icalcomponent_get_first_component(calendar, ICAL_VTODO_COMPONENT); task != nullptr;
           task = icalcomponent_get_next_component(calendar, ICAL_VTODO_COMPONENT)) {
        tasks.push_back(task);
      }
      break;
    case ICAL_VTODO_COMPONENT:
      calendar = nullptr;
      tasks.push_back(root.get());
      break;
    default:
      // Several calendars in one file (libical's XROOT), or anything else.
      return;
  }
  if (tasks.empty()) return;
  const std::string first = icalText(icalcomponent_get_uid(tasks.front()));
  for (icalcomponent* task : tasks) {
    if (icalText(icalcomponent_get_uid(task)) != first) return;
  }
  const std::string fallbackUid = vdir::fileStem(name);
  for (icalcomponent* task : tasks) reminders.push_back(reminderFrom(calendar, task, fallbackUid, local, own));
}

// What a fetch and its thread share: the thread stops between files once the
// tool has stopped waiting.
struct FetchState {
  std::atomic<bool> cancelled{false};
};

class VdirReminderFetch final : public ReminderFetch {
 public:
  explicit VdirReminderFetch(std::shared_ptr<FetchState> state) : state_(std::move(state)) {}
  void cancel() override { state_->cancelled.store(true); }

 private:
  std::shared_ptr<FetchState> state_;
};

std::string folderOf(const ReminderList& list, const std::vector<std::string>& folders) {
  return list.position < folders.size() ? folders[list.position] : std::string();
}

class VdirReminderStore final : public ReminderStore {
 public:
  // There is no prompt: the answer is whether the folders can be read.
  void requestAccess(AccessCompletion completion) override {
    completion(reminderAccessState() == AccessState::authorized, false);
  }

  // The collections of each task root in turn, each root's in byte order of
  // their names.
  std::vector<ReminderList> lists() override {
    struct Found {
      std::vector<ReminderList> lists;
      std::vector<std::string> folders;
    };
    auto found = vdir::withinDeadline<Found>(vdir::Clock::now() + vdir::listsWait, [] {
      Found found;
      for (const auto& root : vdir::located().taskRoots) {
        for (const auto& name : vdir::collectionNames(root)) {
          const std::string folder = root + "/" + name;
          const auto title = [&]() -> std::optional<std::string> {
            const auto text = vdir::readSmallFile(folder + "/displayname");
            return text ? vdir::displayTitle(*text) : std::nullopt;
          }();
          found.lists.push_back(ReminderList{name, title.value_or(name), found.lists.size()});
          found.folders.push_back(folder);
        }
      }
      return found;
    });
    if (!found) return {};
    folders_ = std::move(found->folders);
    return std::move(found->lists);
  }

  std::unique_ptr<ReminderFetch> fetch(const ReminderList& list, FetchCompletion completion) override {
    auto state = std::make_shared<FetchState>();
    std::thread([state, folder = folderOf(list, folders_), completion = std::move(completion)] {
      answer::atBoundary([&] {
        const auto stop = [&state] { return state->cancelled.load(); };
        const auto names = vdir::sortedNames(
            folder, [](const std::string& name) { return vdir::isItemName(name, ".ics"); }, stop);
        if (!names) {
          completion(std::nullopt);
          return;
        }
        const calendar::UtcOffsetAt local = vdir::localZone();
        std::vector<Reminder> reminders;
        OwnZones own;
        for (const auto& name : *names) {
          if (stop()) return;
          readTasks(folder + "/" + name, name, local, own, reminders);
        }
        completion(std::move(reminders));
      });
    }).detach();
    return std::make_unique<VdirReminderFetch>(std::move(state));
  }

 private:
  std::vector<std::string> folders_;  // each list's folder, by position
};

}  // namespace

std::unique_ptr<ReminderStore> makeReminderStore() {
  return std::make_unique<VdirReminderStore>();
}

AccessState reminderAccessState() {
  const auto state = vdir::withinDeadline<AccessState>(vdir::Clock::now() + vdir::stateWait, [] {
    const auto& where = vdir::located();
    return vdir::foldersState(where.taskRoots, where.configFailed);
  });
  return state.value_or(AccessState::unknown);
}

}  // namespace pimbridge::stores
