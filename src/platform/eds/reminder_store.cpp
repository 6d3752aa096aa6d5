// The reminder store on Linux desktops: EDS's task lists behind the tool's
// ReminderStore. Lists come from the source registry; each fetch opens one
// list's calendar client on the GLib thread and reads its VTODOs there.
#include <libecal/libecal.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/eds/conversions.hpp"
#include "platform/eds/session.hpp"
#include "stores/reminder_store.hpp"

namespace pimbridge::stores {
namespace {

using eds::GErrorRef;
using eds::GRef;
using eds::GText;

// Every list opened in this run, kept open until the process ends (on the
// GLib thread only; never freed, as the process ends without unwinding).
// NOTE: when a list's last client goes away, the calendar factory closes
// the list on its main thread, in time that grows with the square of the
// list's size (about 20 s for 120,000 tasks with EDS 3.46), and opens no
// other list meanwhile. Releasing a large list that was given up would then
// cost every list after it its whole bound; kept open, it costs only itself.
std::vector<GRef<ECalClient>>* const openedLists = new std::vector<GRef<ECalClient>>();

// A started fetch. Cancelling it ends the calls in flight at once with
// "cancelled", and the fetch ends without reminders, which the tool no
// longer waits for.
class EdsReminderFetch final : public ReminderFetch {
 public:
  explicit EdsReminderFetch(GCancellable* cancellable) : cancellable_(cancellable) {}
  ~EdsReminderFetch() override { g_object_unref(cancellable_); }
  EdsReminderFetch(const EdsReminderFetch&) = delete;
  EdsReminderFetch& operator=(const EdsReminderFetch&) = delete;

  void cancel() override { g_cancellable_cancel(cancellable_); }

 private:
  GCancellable* cancellable_;
};

// One list's fetch, on the GLib thread: open the list, read its tasks, find
// the zones their due dates name, convert, and call the completion once.
struct Fetch {
  Fetch(std::string uid, FetchCompletion completion, GCancellable* cancellable)
      : uid(std::move(uid)), completion(std::move(completion)), cancellable(cancellable) {}
  Fetch(const Fetch&) = delete;
  Fetch& operator=(const Fetch&) = delete;

  std::string uid;
  FetchCompletion completion;
  GCancellable* cancellable;
  ECalClient* client = nullptr;
  GSList* tasks = nullptr;
  // The zones the tasks' DUEs name, found one after another; null for a zone
  // the list does not know.
  std::map<std::string, ICalTimezone*> zones;
  std::map<std::string, ICalTimezone*>::iterator nextZone;

  ~Fetch() {
    e_client_util_free_object_slist(tasks);
    if (client != nullptr) openedLists->emplace_back(client);
    g_object_unref(cancellable);
  }

  // True when the tool no longer waits for this fetch: the work on this
  // thread stops, so that the lists after it get the thread at once.
  bool givenUp() const { return g_cancellable_is_cancelled(cancellable) != FALSE; }

  // Ends the fetch: the completion runs, and the fetch is freed.
  void finish(std::optional<std::vector<Reminder>> reminders) {
    completion(std::move(reminders));
    delete this;
  }
};

// The DUE property as stored, not the due date EDS computes from DTSTART and
// DURATION when there is none.
struct StoredDue {
  eds::DueReading reading;
  std::string tzid;
};

std::optional<StoredDue> storedDue(ECalComponent* task) {
  ICalComponent* component = e_cal_component_get_icalcomponent(task);
  if (component == nullptr) return std::nullopt;
  GRef<ICalProperty> property(i_cal_component_get_first_property(component, I_CAL_DUE_PROPERTY));
  if (!property) return std::nullopt;
  GRef<ICalTime> time(i_cal_property_get_due(property.get()));
  if (!time || i_cal_time_is_null_time(time.get())) return std::nullopt;
  StoredDue due;
  due.reading.clock.year = i_cal_time_get_year(time.get());
  due.reading.clock.month = i_cal_time_get_month(time.get());
  due.reading.clock.day = i_cal_time_get_day(time.get());
  if (i_cal_time_is_date(time.get())) {
    due.reading.form = eds::DueForm::date;
    return due;
  }
  due.reading.clock.hour = i_cal_time_get_hour(time.get());
  due.reading.clock.minute = i_cal_time_get_minute(time.get());
  due.reading.clock.second = i_cal_time_get_second(time.get());
  GRef<ICalParameter> zone(i_cal_property_get_first_parameter(property.get(), I_CAL_TZID_PARAMETER));
  const gchar* tzid = zone ? i_cal_parameter_get_tzid(zone.get()) : nullptr;
  if (i_cal_time_is_utc(time.get())) {
    due.reading.form = eds::DueForm::utc;
  } else if (tzid != nullptr && *tzid != '\0') {
    due.reading.form = eds::DueForm::zoned;
    due.tzid = tzid;
  } else {
    due.reading.form = eds::DueForm::floating;
  }
  return due;
}

calendar::UtcOffsetAt offsetsOf(ICalTimezone* zone) {
  return [zone](std::int64_t utcSeconds) -> std::int64_t {
    GRef<ICalTime> moment(
        i_cal_time_new_from_timet_with_zone(static_cast<time_t>(utcSeconds), FALSE, i_cal_timezone_get_utc_timezone()));
    return i_cal_timezone_get_utc_offset_of_utc_time(zone, moment.get(), nullptr);
  };
}

Reminder reminderFrom(ECalComponent* task, const std::map<std::string, ICalTimezone*>& zones,
                      const calendar::UtcOffsetAt& local) {
  Reminder reminder;
  const gchar* uid = e_cal_component_get_uid(task);
  GText recurrence(e_cal_component_is_instance(task) ? e_cal_component_get_recurid_as_string(task) : nullptr);
  reminder.identifier = eds::taskIdentifier(uid != nullptr ? uid : "", recurrence ? recurrence.get() : "");

  ECalComponentText* summary = e_cal_component_get_summary(task);
  if (summary != nullptr) {
    const gchar* text = e_cal_component_text_get_value(summary);
    if (text != nullptr) reminder.title = text;
    e_cal_component_text_free(summary);
  }

  if (const auto due = storedDue(task)) {
    if (due->reading.form == eds::DueForm::zoned) {
      const auto found = zones.find(due->tzid);
      ICalTimezone* zone = found != zones.end() ? found->second : nullptr;
      if (zone != nullptr) {
        const calendar::UtcOffsetAt offsets = offsetsOf(zone);
        reminder.due = eds::dueMoment(due->reading, &offsets, local);
      }
    } else {
      reminder.due = eds::dueMoment(due->reading, nullptr, local);
    }
  }

  // EDS keeps the two apart, and either alone means the task is done.
  GRef<ICalTime> completedAt(e_cal_component_get_completed(task));
  reminder.completed = e_cal_component_get_status(task) == I_CAL_STATUS_COMPLETED || completedAt != nullptr;
  return reminder;
}

void convert(Fetch* fetch) {
  const calendar::UtcOffsetAt local = eds::localZone();
  std::vector<Reminder> reminders;
  for (GSList* item = fetch->tasks; item != nullptr; item = item->next) {
    if (fetch->givenUp()) {
      fetch->finish(std::nullopt);
      return;
    }
    reminders.push_back(reminderFrom(E_CAL_COMPONENT(item->data), fetch->zones, local));
  }
  fetch->finish(std::move(reminders));
}

void findNextZone(Fetch* fetch);

void zoneFound(GObject*, GAsyncResult* result, gpointer data) {
  auto* fetch = static_cast<Fetch*>(data);
  answer::atBoundary([&] {
    GError* error = nullptr;
    ICalTimezone* zone = nullptr;
    // The zone belongs to the client, which outlives the conversion.
    if (!e_cal_client_get_timezone_finish(fetch->client, result, &zone, &error)) zone = nullptr;
    const bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
    GErrorRef failure(error);
    if (cancelled) {
      fetch->finish(std::nullopt);
      return;
    }
    fetch->nextZone->second = zone;
    ++fetch->nextZone;
    findNextZone(fetch);
  });
}

void findNextZone(Fetch* fetch) {
  if (fetch->nextZone == fetch->zones.end()) {
    convert(fetch);
    return;
  }
  e_cal_client_get_timezone(fetch->client, fetch->nextZone->first.c_str(), fetch->cancellable, zoneFound, fetch);
}

void tasksRead(GObject*, GAsyncResult* result, gpointer data) {
  auto* fetch = static_cast<Fetch*>(data);
  answer::atBoundary([&] {
    GError* error = nullptr;
    const bool read = e_cal_client_get_object_list_as_comps_finish(fetch->client, result, &fetch->tasks, &error);
    GErrorRef failure(error);
    if (!read) {
      fetch->finish(std::nullopt);
      return;
    }
    for (GSList* item = fetch->tasks; item != nullptr; item = item->next) {
      if (fetch->givenUp()) {
        fetch->finish(std::nullopt);
        return;
      }
      const auto due = storedDue(E_CAL_COMPONENT(item->data));
      if (due && due->reading.form == eds::DueForm::zoned) fetch->zones.emplace(due->tzid, nullptr);
    }
    fetch->nextZone = fetch->zones.begin();
    findNextZone(fetch);
  });
}

void listOpened(GObject*, GAsyncResult* result, gpointer data) {
  auto* fetch = static_cast<Fetch*>(data);
  answer::atBoundary([&] {
    GError* error = nullptr;
    EClient* client = e_cal_client_connect_finish(result, &error);
    GErrorRef failure(error);
    if (client == nullptr) {
      fetch->finish(std::nullopt);
      return;
    }
    fetch->client = E_CAL_CLIENT(client);
    e_cal_client_get_object_list_as_comps(fetch->client, "#t", fetch->cancellable, tasksRead, fetch);
  });
}

class EdsReminderStore final : public ReminderStore {
 public:
  // EDS has no prompt: the answer is whether the store is there.
  void requestAccess(AccessCompletion completion) override {
    completion(reminderAccessState() == AccessState::authorized, false);
  }

  std::vector<ReminderList> lists() override {
    struct List {
      std::string uid;
      std::string title;
    };
    const auto lists = eds::awaitGlib<std::vector<List>>(
        eds::Clock::now() + eds::registryWait,
        [](std::shared_ptr<eds::Pending<std::vector<List>>> pending, GCancellable*) {
          eds::withRegistry([pending](ESourceRegistry* registry) {
            std::vector<List> found;
            if (registry != nullptr) {
              // The registry's own order: by display name.
              GList* sources = e_source_registry_list_enabled(registry, E_SOURCE_EXTENSION_TASK_LIST);
              for (GList* item = sources; item != nullptr; item = item->next) {
                ESource* source = E_SOURCE(item->data);
                const gchar* uid = e_source_get_uid(source);
                const gchar* title = e_source_get_display_name(source);
                found.push_back(List{uid != nullptr ? uid : "", title != nullptr ? title : ""});
              }
              g_list_free_full(sources, g_object_unref);
            }
            pending->deliver(std::move(found));
          });
        });
    std::vector<ReminderList> result;
    if (!lists) return result;
    for (const auto& list : *lists) result.push_back(ReminderList{list.uid, list.title, result.size()});
    return result;
  }

  std::unique_ptr<ReminderFetch> fetch(const ReminderList& list, FetchCompletion completion) override {
    GCancellable* cancellable = g_cancellable_new();
    auto handle = std::make_unique<EdsReminderFetch>(cancellable);
    g_object_ref(cancellable);  // the fetch's own reference
    auto* fetch = new Fetch(list.identifier, std::move(completion), cancellable);
    eds::runOnGlibThread([fetch] {
      eds::withRegistry([fetch](ESourceRegistry* registry) {
        GRef<ESource> source(registry != nullptr ? e_source_registry_ref_source(registry, fetch->uid.c_str())
                                                 : nullptr);
        if (!source) {
          fetch->finish(std::nullopt);
          return;
        }
        e_cal_client_connect(source.get(), E_CAL_CLIENT_SOURCE_TYPE_TASKS, eds::noConnectWait, fetch->cancellable,
                             listOpened, fetch);
      });
    });
    return handle;
  }
};

}  // namespace

std::unique_ptr<ReminderStore> makeReminderStore() {
  return std::make_unique<EdsReminderStore>();
}

AccessState reminderAccessState() {
  return eds::storeState(eds::calendarFactoryBusName);
}

}  // namespace pimbridge::stores
