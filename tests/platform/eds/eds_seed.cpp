// Fills a running Evolution Data Server (normally the private one that
// scripts/private-eds.sh starts) with task lists, tasks and contacts, through
// the EDS client libraries only. Reads a JSON scenario from the file named by
// its one argument, or from standard input without one:
//
//   {"builtin_task_list_enabled": false,
//    "task_lists": [{"name": "Home", "uid": "home", "enabled": true,
//                    "tasks": ["BEGIN:VTODO\r\nUID:t1\r\nSUMMARY:Milk\r\nEND:VTODO\r\n"],
//                    "generate": 1000}],
//    "address_book": "default",
//    "contacts": ["BEGIN:VCARD\r\nVERSION:3.0\r\nUID:c1\r\nFN:Ada\r\nEND:VCARD\r\n"],
//    "generate_contacts": 600}
//
// Every key is optional. A fresh EDS already has one enabled task list,
// "Personal" (system-task-list); "builtin_task_list_enabled" switches it.
// A list's "uid" is chosen by EDS when not given, and "enabled" defaults to
// true. A task is a VTODO, or a VCALENDAR whose VTIMEZONEs are stored with the
// list and whose VTODOs are created; a VTODO with a RECURRENCE-ID is stored
// as a detached instance of the task with its UID, which must come earlier.
// "generate" adds that many plain tasks (UIDs gen-<list index>-<n>) after the
// given ones. Contacts go to the default address book, the only one there is
// ("address_book" may only say "default"); "generate_contacts" adds plain
// ones (UIDs gen-contact-<n>) after the given ones.
//
// Prints {"task_lists": [UID, ...], "address_book": UID} on standard output,
// the lists in the scenario's order. On any failure it prints a message on
// standard error and ends with status 1.
#include <libebook/libebook.h>
#include <libecal/libecal.h>
#include <libedataserver/libedataserver.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace {

using nlohmann::json;

// Opening a client waits this long for its backend to report itself
// connected. Local backends never do, so any other value costs its whole
// length on every open (and 0 waits for ever); -1 does not wait.
constexpr guint32 kNoConnectWait = static_cast<guint32>(-1);
// How many objects go in one D-Bus call. The local backends' cost per call
// grows with what the list already holds, so fewer, larger calls fill a big
// list far sooner (120,000 tasks: 8 s rather than 60 s).
constexpr std::size_t kBatch = 10000;

[[noreturn]] void fail(const std::string& what, GError* error = nullptr) {
  std::cerr << "eds_seed: " << what;
  if (error != nullptr) std::cerr << ": " << error->message;
  std::cerr << '\n';
  std::exit(1);
}

struct Unref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using Ref = std::unique_ptr<T, Unref>;

// The error slot of one call; fails the run with its message when asked to.
class Error {
 public:
  ~Error() { g_clear_error(&error_); }
  GError** out() { return &error_; }
  void check(bool ok, const std::string& what) {
    if (!ok) fail(what, error_);
  }

 private:
  GError* error_ = nullptr;
};

json readScenario(int argc, char** argv) {
  if (argc > 2) fail("usage: eds_seed [SCENARIO.json]");
  try {
    if (argc == 2) {
      std::ifstream file(argv[1]);
      if (!file) fail(std::string("cannot read ") + argv[1]);
      return json::parse(file);
    }
    return json::parse(std::cin);
  } catch (const json::exception& e) {
    fail(std::string("the scenario is not JSON: ") + e.what());
  }
}

// A typo in a scenario should fail the test that wrote it, not be ignored.
void onlyKeys(const json& object, const std::set<std::string>& known, const std::string& where) {
  if (!object.is_object()) fail(where + " must be an object");
  for (const auto& [key, value] : object.items()) {
    if (!known.contains(key)) fail(where + " has an unknown key \"" + key + "\"");
  }
}

// Objects that go to the server in GSLists of at most kBatch; the lists
// borrow the objects, which the batch owns.
template <typename T>
class Batch {
 public:
  void add(Ref<T> object) { objects_.push_back(std::move(object)); }
  bool empty() const { return objects_.empty(); }
  // Hands the objects out kBatch at a time, as the GSList the calls take.
  template <typename Send>
  void send(Send&& sendOne) {
    for (std::size_t start = 0; start < objects_.size(); start += kBatch) {
      GSList* list = nullptr;
      for (std::size_t i = std::min(objects_.size(), start + kBatch); i > start; --i) {
        list = g_slist_prepend(list, objects_[i - 1].get());
      }
      sendOne(list);
      g_slist_free(list);
    }
    objects_.clear();
  }

 private:
  std::vector<Ref<T>> objects_;
};

// A count in the scenario: absent is zero, anything but a whole number >= 0 fails.
std::size_t countOf(const json& object, const std::string& key, const std::string& where) {
  if (!object.contains(key)) return 0;
  if (!object[key].is_number_unsigned()) fail(where + " has a \"" + key + "\" that is not a count");
  return object[key].get<std::size_t>();
}

Ref<ICalComponent> parseComponent(const std::string& text, const std::string& where) {
  Ref<ICalComponent> component(i_cal_component_new_from_string(text.c_str()));
  if (!component) fail(where + " is not iCalendar text");
  return component;
}

// Stores one entry of a list's "tasks": time zones at once, tasks into the
// batches of new tasks and detached instances.
void collectTasks(ECalClient* client, const std::string& text, const std::string& where, Batch<ICalComponent>& tasks,
                  std::vector<Ref<ICalComponent>>& instances) {
  Ref<ICalComponent> top = parseComponent(text, where);
  auto addTask = [&](Ref<ICalComponent> task) {
    Ref<ICalProperty> recurrenceId(i_cal_component_get_first_property(task.get(), I_CAL_RECURRENCEID_PROPERTY));
    if (recurrenceId) {
      instances.push_back(std::move(task));
    } else {
      tasks.add(std::move(task));
    }
  };
  switch (i_cal_component_isa(top.get())) {
    case I_CAL_VTODO_COMPONENT:
      addTask(std::move(top));
      return;
    case I_CAL_VCALENDAR_COMPONENT:
      break;
    default:
      fail(where + " is neither a VTODO nor a VCALENDAR");
  }
  for (Ref<ICalComponent> part(i_cal_component_get_first_component(top.get(), I_CAL_ANY_COMPONENT)); part;
       part.reset(i_cal_component_get_next_component(top.get(), I_CAL_ANY_COMPONENT))) {
    const ICalComponentKind kind = i_cal_component_isa(part.get());
    if (kind == I_CAL_VTODO_COMPONENT) {
      addTask(Ref<ICalComponent>(i_cal_component_clone(part.get())));
    } else if (kind == I_CAL_VTIMEZONE_COMPONENT) {
      Ref<ICalTimezone> zone(i_cal_timezone_new());
      // The zone takes over the copy's native component.
      Ref<ICalComponent> copy(i_cal_component_clone(part.get()));
      if (i_cal_timezone_set_component(zone.get(), copy.get()) == 0) fail(where + " has a VTIMEZONE without TZID");
      Error error;
      error.check(e_cal_client_add_timezone_sync(client, zone.get(), nullptr, error.out()),
                  "adding a time zone of " + where);
    } else {
      fail(where + " holds a component other than VTODO and VTIMEZONE");
    }
  }
}

Ref<ICalComponent> generatedTask(std::size_t list, std::size_t n) {
  const std::string text = "BEGIN:VTODO\r\nUID:gen-" + std::to_string(list) + "-" + std::to_string(n) +
                           "\r\nSUMMARY:Task " + std::to_string(n) + "\r\nEND:VTODO\r\n";
  return parseComponent(text, "a generated task");
}

Ref<EContact> generatedContact(std::size_t n) {
  const std::string id = std::to_string(n);
  const std::string text = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:gen-contact-" + id + "\r\nFN:Given" + id + " Family" +
                           id + "\r\nN:Family" + id + ";Given" + id + ";;;\r\nTEL:+1 555 " + id + "\r\nEMAIL:contact" +
                           id + "@example.org\r\nEND:VCARD\r\n";
  return Ref<EContact>(e_contact_new_from_vcard(text.c_str()));
}

// Creates the scratch sources of all lists in one request; returns their UIDs.
std::vector<std::string> createTaskLists(ESourceRegistry* registry, const json& lists) {
  std::vector<Ref<ESource>> sources;
  GList* request = nullptr;
  for (std::size_t i = 0; i < lists.size(); ++i) {
    const json& list = lists[i];
    const std::string where = "task list " + std::to_string(i);
    onlyKeys(list, {"name", "uid", "enabled", "tasks", "generate"}, where);
    Error error;
    const std::string uid = list.value("uid", "");
    Ref<ESource> source(uid.empty() ? e_source_new(nullptr, nullptr, error.out())
                                    : e_source_new_with_uid(uid.c_str(), nullptr, error.out()));
    error.check(source != nullptr, "creating " + where);
    e_source_set_display_name(source.get(), list.at("name").get<std::string>().c_str());
    e_source_set_parent(source.get(), "local-stub");
    e_source_set_enabled(source.get(), list.value("enabled", true));
    auto* extension = E_SOURCE_BACKEND(e_source_get_extension(source.get(), E_SOURCE_EXTENSION_TASK_LIST));
    e_source_backend_set_backend_name(extension, "local");
    request = g_list_append(request, source.get());
    sources.push_back(std::move(source));
  }
  if (request != nullptr) {
    Error error;
    const bool ok = e_source_registry_create_sources_sync(registry, request, nullptr, error.out());
    g_list_free(request);
    error.check(ok, "creating the task lists");
  }
  std::vector<std::string> uids;
  for (const auto& source : sources) uids.emplace_back(e_source_get_uid(source.get()));
  return uids;
}

void fillTaskList(ESourceRegistry* registry, const std::string& uid, const json& list, std::size_t index) {
  const std::string where = "task list " + std::to_string(index);
  Ref<ESource> source(e_source_registry_ref_source(registry, uid.c_str()));
  if (!source) fail(where + " did not appear in the registry");
  Error error;
  Ref<ECalClient> client(E_CAL_CLIENT(
      e_cal_client_connect_sync(source.get(), E_CAL_CLIENT_SOURCE_TYPE_TASKS, kNoConnectWait, nullptr, error.out())));
  error.check(client != nullptr, "opening " + where);

  Batch<ICalComponent> tasks;
  std::vector<Ref<ICalComponent>> instances;
  const json texts = list.value("tasks", json::array());
  for (std::size_t i = 0; i < texts.size(); ++i) {
    collectTasks(client.get(), texts[i].get<std::string>(), where + " task " + std::to_string(i), tasks, instances);
  }
  const std::size_t generate = countOf(list, "generate", where);
  for (std::size_t n = 1; n <= generate; ++n) tasks.add(generatedTask(index, n));
  tasks.send([&](GSList* batch) {
    Error error;
    error.check(
        e_cal_client_create_objects_sync(client.get(), batch, E_CAL_OPERATION_FLAG_NONE, nullptr, nullptr, error.out()),
        "creating the tasks of " + where);
  });
  for (const auto& instance : instances) {
    Error error;
    error.check(e_cal_client_modify_object_sync(client.get(), instance.get(), E_CAL_OBJ_MOD_THIS,
                                                E_CAL_OPERATION_FLAG_NONE, nullptr, error.out()),
                "storing a detached instance in " + where);
  }
}

std::string fillAddressBook(ESourceRegistry* registry, const json& scenario) {
  Ref<ESource> source(e_source_registry_ref_default_address_book(registry));
  if (!source) fail("the registry has no default address book");
  const std::string uid = e_source_get_uid(source.get());

  Batch<EContact> contacts;
  const json cards = scenario.value("contacts", json::array());
  for (std::size_t i = 0; i < cards.size(); ++i) {
    const std::string text = cards[i].get<std::string>();
    if (text.find("BEGIN:VCARD") == std::string::npos) fail("contact " + std::to_string(i) + " is not a vCard");
    contacts.add(Ref<EContact>(e_contact_new_from_vcard(text.c_str())));
  }
  const std::size_t generate = countOf(scenario, "generate_contacts", "the scenario");
  for (std::size_t n = 1; n <= generate; ++n) contacts.add(generatedContact(n));
  if (contacts.empty()) return uid;

  Error error;
  Ref<EBookClient> client(
      E_BOOK_CLIENT(e_book_client_connect_sync(source.get(), kNoConnectWait, nullptr, error.out())));
  error.check(client != nullptr, "opening the default address book");
  contacts.send([&](GSList* batch) {
    Error error;
    error.check(
        e_book_client_add_contacts_sync(client.get(), batch, E_BOOK_OPERATION_FLAG_NONE, nullptr, nullptr, error.out()),
        "adding the contacts");
  });
  return uid;
}

void setBuiltinTaskList(ESourceRegistry* registry, bool enabled) {
  Ref<ESource> source(e_source_registry_ref_builtin_task_list(registry));
  if (!source) fail("the registry has no built-in task list");
  if (e_source_get_enabled(source.get()) == static_cast<gboolean>(enabled)) return;
  e_source_set_enabled(source.get(), enabled);
  Error error;
  error.check(e_source_write_sync(source.get(), nullptr, error.out()), "switching the built-in task list");
}

}  // namespace

int main(int argc, char** argv) {
  const json scenario = readScenario(argc, argv);
  onlyKeys(scenario, {"builtin_task_list_enabled", "task_lists", "address_book", "contacts", "generate_contacts"},
           "the scenario");
  if (scenario.value("address_book", std::string("default")) != "default") {
    fail("\"address_book\" can only be \"default\"");
  }

  json answer;
  try {
    Error error;
    Ref<ESourceRegistry> registry(e_source_registry_new_sync(nullptr, error.out()));
    error.check(registry != nullptr, "connecting to the source registry");

    if (scenario.contains("builtin_task_list_enabled")) {
      setBuiltinTaskList(registry.get(), scenario["builtin_task_list_enabled"].get<bool>());
    }
    const json lists = scenario.value("task_lists", json::array());
    const std::vector<std::string> uids = createTaskLists(registry.get(), lists);
    for (std::size_t i = 0; i < uids.size(); ++i) fillTaskList(registry.get(), uids[i], lists[i], i);
    answer["task_lists"] = uids;
    answer["address_book"] = fillAddressBook(registry.get(), scenario);
  } catch (const json::exception& e) {
    fail(std::string("the scenario has a value of the wrong type: ") + e.what());
  }
  std::cout << answer.dump() << '\n';
  return std::cout.flush() ? 0 : 1;
}
