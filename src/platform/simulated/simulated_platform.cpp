// The simulated platform: both stores, the system version and the main-thread
// wait, played from a world file, with a trace of every operation.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "answer/boundary.hpp"
#include "platform/simulated/world.hpp"
#include "stores/contact_store.hpp"
#include "stores/platform.hpp"
#include "stores/reminder_store.hpp"

namespace pimbridge::stores {

namespace {

using simulated::World;

World world;
std::atomic<RawStatus> reminderState{0};
std::atomic<RawStatus> contactState{0};
int traceFd = -1;

[[noreturn]] void brokenSetUp(const std::string& message) {
  const std::string line = "simulated platform: " + message + "\n";
  static_cast<void>(::write(STDERR_FILENO, line.data(), line.size()));
  ::_exit(3);
}

// One line per operation, written whole with a single call so that lines of
// two threads never mix.
void trace(std::string_view word, std::string_view detail = {}, bool withDetail = false) {
  if (traceFd < 0) return;
  std::string line(word);
  if (withDetail) {
    line.push_back(' ');
    line.append(detail);
  }
  line.push_back('\n');
  static_cast<void>(::write(traceFd, line.data(), line.size()));
}

// Runs the callback on its own thread after the delay, as a platform queue
// would: what the callback and the delivery allocate may fail there, and that
// must end the run through the tool's fallback, not abort it. The thread is
// not joined: a callback that is due after the process has ended never runs.
template <typename F>
void later(std::int64_t afterMs, F&& callback) {
  std::thread([afterMs, callback = std::forward<F>(callback)]() mutable {
    std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
    answer::atBoundary(callback);
  }).detach();
}

// Completions sent to the main thread, as to a main queue: they run only
// inside a main-thread wait, once due, earliest first. Only the main thread
// touches them (fetches are started there), so they need no lock.
struct MainTask {
  std::chrono::steady_clock::time_point due;
  std::function<void()> run;
};
std::vector<MainTask> mainTasks;

std::optional<std::chrono::steady_clock::time_point> nextMainTaskDue() {
  std::optional<std::chrono::steady_clock::time_point> next;
  for (const auto& task : mainTasks) {
    if (!next || task.due < *next) next = task.due;
  }
  return next;
}

void runDueMainTasks() {
  for (;;) {
    auto earliest = std::min_element(mainTasks.begin(), mainTasks.end(),
                                     [](const MainTask& a, const MainTask& b) { return a.due < b.due; });
    if (earliest == mainTasks.end() || earliest->due > std::chrono::steady_clock::now()) return;
    auto run = std::move(earliest->run);
    mainTasks.erase(earliest);
    answer::atBoundary(run);
  }
}

// The end of a main-thread wait's next pause: the deadline, or the moment the
// next main-thread completion falls due when that comes first.
std::chrono::steady_clock::time_point pauseUntil(std::chrono::steady_clock::time_point deadline) {
  const auto next = nextMainTaskDue();
  return next && *next < deadline ? *next : deadline;
}

void answerLater(const std::optional<simulated::AccessAnswer>& answer, std::atomic<RawStatus>& state,
                 AccessCompletion completion) {
  if (!answer) return;  // this store never answers
  later(answer->afterMs, [answer = *answer, &state, completion = std::move(completion)] {
    if (answer.statusAfter) state.store(*answer.statusAfter);
    completion(answer.granted, answer.error);
  });
}

class SimReminderPredicate final : public ReminderPredicate {
 public:
  explicit SimReminderPredicate(std::size_t position) : position(position) {}
  std::size_t position;
};

class SimReminderFetch final : public ReminderFetch {
 public:
  explicit SimReminderFetch(std::size_t position) : position(position) {}
  std::size_t position;
};

class SimReminderStore final : public ReminderStore {
 public:
  void requestFullAccessToReminders(AccessCompletion completion) override {
    trace("reminders.request-full-access");
    answerLater(world.reminders.request, reminderState, std::move(completion));
  }

  void requestAccess(ReminderEntityType, AccessCompletion completion) override {
    trace("reminders.request-access");
    answerLater(world.reminders.request, reminderState, std::move(completion));
  }

  std::vector<ReminderCalendar> calendars(ReminderEntityType) override {
    trace("reminders.calendars");
    std::vector<ReminderCalendar> out;
    out.reserve(world.reminders.lists.size());
    for (std::size_t i = 0; i < world.reminders.lists.size(); ++i) {
      const auto& list = world.reminders.lists[i];
      out.push_back(ReminderCalendar{list.id, list.title, i});
    }
    return out;
  }

  std::unique_ptr<ReminderPredicate> predicateForReminders(const ReminderCalendar& calendar) override {
    trace("reminders.predicate", calendar.identifier, true);
    return std::make_unique<SimReminderPredicate>(calendar.position);
  }

  std::unique_ptr<ReminderFetch> fetchReminders(const ReminderPredicate& predicate,
                                                FetchCompletion completion) override {
    const auto position = static_cast<const SimReminderPredicate&>(predicate).position;
    const auto& list = world.reminders.lists.at(position);
    trace("reminders.fetch", list.id, true);
    auto fetch = std::make_unique<SimReminderFetch>(position);
    if (list.fetch == simulated::FetchMode::never) return fetch;
    auto complete = [&list, completion = std::move(completion)] {
      if (list.fetch == simulated::FetchMode::absent) {
        completion(std::nullopt);
      } else {
        completion(deliver(list));
      }
      trace("reminders.fetch-completed", list.id, true);
    };
    if (list.deliverOn == simulated::DeliverOn::main) {
      mainTasks.push_back(
          MainTask{std::chrono::steady_clock::now() + std::chrono::milliseconds(list.afterMs), std::move(complete)});
    } else {
      later(list.afterMs, std::move(complete));
    }
    return fetch;
  }

  // NOTE: a cancelled fetch still completes when it falls due, as a store
  // that is already delivering, or that ignores the cancel, would: late
  // completions must stay harmless.
  void cancelFetch(const ReminderFetch& fetch) override {
    trace("reminders.cancel", world.reminders.lists.at(static_cast<const SimReminderFetch&>(fetch).position).id, true);
  }

 private:
  static std::vector<Reminder> deliver(const simulated::SimList& list) {
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
};

class SimContactPredicate final : public ContactPredicate {
 public:
  explicit SimContactPredicate(std::string container) : container(std::move(container)) {}
  std::string container;
};

bool asked(const ContactFetchRequest& request, ContactKey key) {
  for (auto k : request.keysToFetch) {
    if (k == key) return true;
  }
  return false;
}

// A contact as the store delivers it: only the properties that were asked for.
Contact fetched(const ContactFetchRequest& request, const simulated::SimContact& c) {
  Contact out;
  if (asked(request, ContactKey::identifier)) out.identifier = c.id;
  if (asked(request, ContactKey::givenName)) out.givenName = c.given;
  if (asked(request, ContactKey::familyName)) out.familyName = c.family;
  if (asked(request, ContactKey::phoneNumbers)) out.phoneNumbers = c.phones;
  if (asked(request, ContactKey::emailAddresses)) out.emailAddresses = c.emails;
  return out;
}

class SimContactStore final : public ContactStore {
 public:
  void requestAccess(ContactEntityType, AccessCompletion completion) override {
    trace("contacts.request-access");
    answerLater(world.contacts.request, contactState, std::move(completion));
  }

  std::optional<std::string> defaultContainerIdentifier() override {
    trace("contacts.default-container");
    return world.contacts.defaultContainer;
  }

  bool enumerateContacts(const ContactFetchRequest& request, const ContactStep& step) override {
    trace("contacts.enumerate");
    const auto* predicate = dynamic_cast<const SimContactPredicate*>(request.predicate.get());
    const auto& store = world.contacts;
    std::uint64_t delivered = 0;
    bool stop = false;
    // Delivers one contact; false once the enumeration has ended.
    auto offer = [&](const simulated::SimContact& c) {
      if (predicate != nullptr && c.container != predicate->container) return true;
      if (store.failAfter && delivered >= *store.failAfter) return false;
      step(fetched(request, c), stop);
      ++delivered;
      if (stop) {
        trace("contacts.enumerate-stopped");
        return false;
      }
      return true;
    };
    for (const auto& c : store.contacts) {
      if (!offer(c)) return !failed(delivered, stop);
    }
    const std::string defaultContainer = store.defaultContainer.value_or(std::string());
    for (std::uint64_t k = 1; k <= store.generate; ++k) {
      const std::string n = std::to_string(k);
      if (!offer(simulated::SimContact{"contact-" + n,
                                       defaultContainer,
                                       "Given" + n,
                                       "Family" + n,
                                       {"+1 555 " + n},
                                       {"contact" + n + "@example.com"}})) {
        return !failed(delivered, stop);
      }
    }
    return !failed(delivered, stop);
  }

 private:
  // The enumeration fails once it has delivered fail_after contacts, also when
  // the container held no more than that; a stop by the caller is a success.
  static bool failed(std::uint64_t delivered, bool stop) {
    const auto& failAfter = world.contacts.failAfter;
    return !stop && failAfter && delivered <= *failAfter;
  }
};

// Plain descriptor reads rather than a file stream: a stream would set up the
// C++ locale machinery, which costs every run of the tool a good share of its
// start-up for one small file.
std::string readFile(const char* path) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) brokenSetUp(std::string(path) + ": cannot be read");
  std::string content;
  char block[16384];
  for (;;) {
    const ssize_t n = ::read(fd, block, sizeof block);
    if (n > 0) {
      content.append(block, static_cast<std::size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      brokenSetUp(std::string(path) + ": cannot be read");
    }
  }
  ::close(fd);
  return content;
}

}  // namespace

void startPlatform() {
  const char* worldPath = std::getenv("PIMBRIDGE_WORLD");
  try {
    world = worldPath != nullptr ? simulated::parseWorld(readFile(worldPath))
                                 : simulated::parseWorld(simulated::demoWorldJson());
  } catch (const simulated::WorldError& e) {
    brokenSetUp(std::string(worldPath != nullptr ? worldPath : "demo world") + ": " + e.what());
  }
  reminderState.store(world.reminders.status);
  contactState.store(world.contacts.status);
  if (const char* tracePath = std::getenv("PIMBRIDGE_TRACE"); tracePath != nullptr) {
    traceFd = ::open(tracePath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (traceFd < 0) brokenSetUp(std::string(tracePath) + ": the trace file cannot be opened");
  }
}

OsVersion runningOsVersion() {
  trace("os.version");
  return world.osVersion;
}

void runCommand(const std::function<void()>& command) {
  command();
}

void waitOnMainThreadUntil(std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    runDueMainTasks();
    if (std::chrono::steady_clock::now() >= deadline) return;
    std::this_thread::sleep_until(pauseUntil(deadline));
  }
}

bool waitOnMainThreadFor(Signal& signal, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    runDueMainTasks();
    if (signal.raised()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    signal.waitUntil(pauseUntil(deadline));
  }
}

// The waits above watch the signal themselves.
void wakeMainThread() {}

std::unique_ptr<ReminderStore> makeReminderStore() {
  trace("reminders.init");
  return std::make_unique<SimReminderStore>();
}

RawStatus reminderAuthorizationStatus(ReminderEntityType) {
  trace("reminders.status");
  return reminderState.load();
}

std::unique_ptr<ContactStore> makeContactStore() {
  trace("contacts.init");
  return std::make_unique<SimContactStore>();
}

RawStatus contactAuthorizationStatus(ContactEntityType) {
  trace("contacts.status");
  return contactState.load();
}

std::unique_ptr<ContactPredicate> predicateForContactsInContainer(const std::string& containerIdentifier) {
  trace("contacts.predicate", containerIdentifier, true);
  return std::make_unique<SimContactPredicate>(containerIdentifier);
}

}  // namespace pimbridge::stores
