// The GLib thread of the EDS backend, the session bus, the registry, and the
// state of a store.
#include "platform/eds/session.hpp"

#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// ThreadSanitizer cannot see GLib's own locks, through which a task passes
// from the thread that queues it to the GLib thread that runs it; the tool
// tells it of that hand-off itself. Nothing without ThreadSanitizer.
#if defined(__SANITIZE_THREAD__)
#define PIMBRIDGE_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PIMBRIDGE_TSAN 1
#endif
#endif
#ifdef PIMBRIDGE_TSAN
#include <sanitizer/tsan_interface.h>
#define PIMBRIDGE_HAND_OVER(address) __tsan_release(address)
#define PIMBRIDGE_TAKE_OVER(address) __tsan_acquire(address)
#else
#define PIMBRIDGE_HAND_OVER(address) static_cast<void>(address)
#define PIMBRIDGE_TAKE_OVER(address) static_cast<void>(address)
#endif

namespace pimbridge::eds {

namespace {

bool busNamed = false;

// Written once by the GLib thread before it serves, read after.
GMainContext* glibContext = nullptr;
std::once_flag glibStarted;

GLogWriterOutput dropLogMessage(GLogLevelFlags, const GLogField*, gsize, gpointer) {
  return G_LOG_WRITER_HANDLED;
}
void dropPrinted(const gchar*) {}

void startGlibThread() {
  std::mutex mutex;
  std::condition_variable ready;
  bool serving = false;
  std::thread([&] {
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    GMainLoop* loop = g_main_loop_new(context, FALSE);
    {
      // Notified under the lock: once the starting thread sees `serving` it
      // returns, and the condition variable on its stack is gone.
      const std::lock_guard lock(mutex);
      glibContext = context;
      serving = true;
      ready.notify_one();
    }
    // Never ends: the process ends from the tool's side, whatever is pending here.
    g_main_loop_run(loop);
  }).detach();
  std::unique_lock lock(mutex);
  ready.wait(lock, [&] { return serving; });
}

gboolean runTask(gpointer data) {
  PIMBRIDGE_TAKE_OVER(data);
  answer::atBoundary([data] { (*static_cast<std::function<void()>*>(data))(); });
  return G_SOURCE_REMOVE;
}

void deleteTask(gpointer data) {
  delete static_cast<std::function<void()>*>(data);
}

// --- the session bus and the registry, on the GLib thread only

// A value that the GLib thread makes once per run, on its first use, and
// hands to every caller, those who asked while it was being made included.
// Null when the making failed.
template <typename T>
struct MadeOnce {
  T* value = nullptr;
  bool requested = false;
  bool done = false;
  std::vector<std::function<void(T*)>> waiters;

  // Calls `then` with the value once it is there; the first call starts
  // making it with `make`, which ends by calling made().
  void with(std::function<void(T*)> then, void (*make)()) {
    if (done) {
      then(value);
      return;
    }
    waiters.push_back(std::move(then));
    if (requested) return;
    requested = true;
    make();
  }

  void made(T* result) {
    value = result;
    done = true;
    auto callers = std::move(waiters);
    for (auto& then : callers) then(value);
  }
};

MadeOnce<GDBusConnection> sessionBus;  // held for the whole run
MadeOnce<ESourceRegistry> registry;

void busMade(GObject*, GAsyncResult* result, gpointer) {
  answer::atBoundary([result] {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_finish(result, &error);
    GErrorRef failure(error);
    // NOTE: GLib's shared session connection raises SIGTERM in the process
    // when the bus goes away, from whichever thread dispatches its "closed"
    // signal. The EDS libraries take this same connection (GLib hands out
    // one per process while someone holds it, and the tool holds it for the
    // whole run), so a lost bus fails their calls instead, and the command
    // answers with what it has read.
    if (bus != nullptr) g_dbus_connection_set_exit_on_close(bus, FALSE);
    sessionBus.made(bus);
  });
}

void registryMade(GObject*, GAsyncResult* result, gpointer) {
  answer::atBoundary([result] {
    GError* error = nullptr;
    ESourceRegistry* made = e_source_registry_new_finish(result, &error);
    GErrorRef failure(error);
    registry.made(made);
  });
}

// Set when a registry that the bus was starting did not answer within
// startWait: a later state read of the same run does not wait that long
// again. Set by the waiting thread, read on the GLib thread.
std::atomic<bool> registryStartMissed = false;

// --- the state of a store

// What the bus said about one of the services a store needs.
enum class Answer { pending, answered, absent, silent };

// Both the registry's and the factory's answer; the state follows from the
// pair once both are in.
struct StateRead {
  std::shared_ptr<Pending<stores::AccessState>> pending;
  std::shared_ptr<Pending<bool>> starting;  // delivered when the bus starts the registry
  GCancellable* cancellable;
  std::string factory;
  GDBusConnection* bus = nullptr;
  Answer registry = Answer::pending;
  Answer factoryAnswer = Answer::pending;
  int callsInFlight = 1;  // the bus request

  ~StateRead() { g_object_unref(cancellable); }

  void settle() {
    if (registry == Answer::pending || factoryAnswer == Answer::pending) return;
    if (registry == Answer::absent || factoryAnswer == Answer::absent) {
      pending->deliver(stores::AccessState::restricted);
    } else if (registry == Answer::silent || factoryAnswer == Answer::silent) {
      pending->deliver(stores::AccessState::unknown);
    } else {
      pending->deliver(stores::AccessState::authorized);
    }
  }
};

// Ends one call of the read; the last one frees it.
void callDone(StateRead* read) {
  if (--read->callsInFlight == 0) delete read;
}

// A name that the bus says nobody serves, or that a sandbox keeps the tool
// from reaching: the store is not there for the tool.
bool absentName(const GError* error) {
  return g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER) ||
         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_ACCESS_DENIED);
}

// No single call to a running service takes longer than the whole read may;
// the read's own wait ends it sooner when the calls add up. Starting the
// registry has its own, longer bound.
constexpr int callTimeoutMs = static_cast<int>(statusWait.count());
constexpr int startTimeoutMs = static_cast<int>(std::chrono::milliseconds(startWait).count());

// Whether a reply of the form (b) says true; false for no reply.
bool trueReply(GVariant* reply) {
  gboolean value = FALSE;
  if (reply == nullptr) return false;
  g_variant_get(reply, "(b)", &value);
  g_variant_unref(reply);
  return value != FALSE;
}

// The callback of every call of a state read: it finishes the call, inside
// the boundary, and hands the reply to `then` (none when the call failed,
// with what the failure says about the service in the read's `which`), then
// ends the call.
template <Answer StateRead::*which, void (*then)(StateRead&, GVariant* reply)>
void replied(GObject* source, GAsyncResult* result, gpointer data) {
  auto* read = static_cast<StateRead*>(data);
  answer::atBoundary([&] {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    const GErrorRef failure(error);
    if (reply == nullptr) read->*which = absentName(error) ? Answer::absent : Answer::silent;
    then(*read, reply);
  });
  callDone(read);
}

void registryPinged(StateRead& read, GVariant* reply) {
  if (reply != nullptr) {
    g_variant_unref(reply);
    read.registry = Answer::answered;
  }
  read.settle();
}

void registryOwned(StateRead& read, GVariant* reply) {
  if (reply == nullptr) {
    read.settle();
    return;
  }
  // The registry must answer itself; asking it starts it where it is not
  // running yet, as every client of EDS does. A running registry answers
  // at once or is frozen; one the bus is starting may take seconds on a
  // loaded desktop, and gets them.
  const bool running = trueReply(reply);
  const bool start = !running && !registryStartMissed;
  if (start) read.starting->deliver(true);
  ++read.callsInFlight;
  g_dbus_connection_call(read.bus, registryBusName, "/", "org.freedesktop.DBus.Peer", "Ping", nullptr, nullptr,
                         G_DBUS_CALL_FLAGS_NONE, start ? startTimeoutMs : callTimeoutMs, read.cancellable,
                         replied<&StateRead::registry, registryPinged>, &read);
}

void factoryActivatable(StateRead& read, GVariant* reply) {
  if (reply != nullptr) {
    GVariantIter* names = nullptr;
    const gchar* name = nullptr;
    bool found = false;
    g_variant_get(reply, "(as)", &names);
    while (g_variant_iter_next(names, "&s", &name)) found = found || read.factory == name;
    g_variant_iter_free(names);
    g_variant_unref(reply);
    read.factoryAnswer = found ? Answer::answered : Answer::absent;
  }
  read.settle();
}

void factoryOwned(StateRead& read, GVariant* reply) {
  if (reply == nullptr) {
    read.settle();
  } else if (trueReply(reply)) {
    read.factoryAnswer = Answer::answered;
    read.settle();
  } else {
    // Not running: the factory still counts when the bus can start it.
    ++read.callsInFlight;
    g_dbus_connection_call(read.bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "ListActivatableNames", nullptr, G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE,
                           callTimeoutMs, read.cancellable, replied<&StateRead::factoryAnswer, factoryActivatable>,
                           &read);
  }
}

void askNameHasOwner(StateRead* read, const char* name, GAsyncReadyCallback then) {
  ++read->callsInFlight;
  g_dbus_connection_call(read->bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                         "NameHasOwner", g_variant_new("(s)", name), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE,
                         callTimeoutMs, read->cancellable, then, read);
}

void busReached(StateRead* read, GDBusConnection* bus) {
  answer::atBoundary([&] {
    if (bus == nullptr) {
      read->pending->deliver(stores::AccessState::unknown);
      return;
    }
    read->bus = bus;
    askNameHasOwner(read, registryBusName, replied<&StateRead::registry, registryOwned>);
    // The factory need only be there: running, or startable by the bus.
    askNameHasOwner(read, read->factory.c_str(), replied<&StateRead::factoryAnswer, factoryOwned>);
  });
  callDone(read);
}

}  // namespace

void startSession() {
  // NOTE: GLib writes debug messages to standard output when
  // G_MESSAGES_DEBUG is set, and G_DEBUG=fatal-criticals ends the process at
  // the first critical, which EDS's failure paths print; neither may reach
  // the host. Nothing GLib or the libraries log is shown.
  g_log_set_writer_func(dropLogMessage, nullptr, nullptr);
  g_log_set_always_fatal(static_cast<GLogLevelFlags>(0));
  g_set_print_handler(dropPrinted);
  g_set_printerr_handler(dropPrinted);

  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address != nullptr) {
    // An autolaunch address has GLib start a bus of its own, which would
    // outlive the tool.
    busNamed = *address != '\0' && std::string_view(address).find("autolaunch:") == std::string_view::npos;
  } else if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != '\0') {
    struct stat socket {};
    busNamed = ::stat((std::string(runtime) + "/bus").c_str(), &socket) == 0 && S_ISSOCK(socket.st_mode);
  }
}

bool sessionBusNamed() {
  return busNamed;
}

void runOnGlibThread(std::function<void()> task) {
  std::call_once(glibStarted, startGlibThread);
  auto* queued = new std::function<void()>(std::move(task));
  // Everything the queuing thread wrote before this is seen by the task.
  PIMBRIDGE_HAND_OVER(queued);
  g_main_context_invoke_full(glibContext, G_PRIORITY_DEFAULT, runTask, queued, deleteTask);
}

void withSessionBus(std::function<void(GDBusConnection*)> then) {
  sessionBus.with(std::move(then), [] { g_bus_get(G_BUS_TYPE_SESSION, nullptr, busMade, nullptr); });
}

void withRegistry(std::function<void(ESourceRegistry*)> then) {
  registry.with(std::move(then), [] {
    // The registry takes the session bus that the tool holds.
    withSessionBus([](GDBusConnection* bus) {
      if (bus != nullptr) {
        e_source_registry_new(nullptr, registryMade, nullptr);
      } else {
        registry.made(nullptr);
      }
    });
  });
}

stores::AccessState storeState(const char* factoryBusName) {
  if (!sessionBusNamed()) return stores::AccessState::unknown;
  const auto start = Clock::now();
  auto pending = std::make_shared<Pending<stores::AccessState>>();
  auto starting = std::make_shared<Pending<bool>>();
  GCancellable* cancellable = g_cancellable_new();
  g_object_ref(cancellable);  // the read's own reference
  auto* read = new StateRead{pending, starting, cancellable, factoryBusName};
  runOnGlibThread([read] { withSessionBus([read](GDBusConnection* bus) { busReached(read, bus); }); });
  auto state = pending->wait(start + statusWait);
  // A registry that the bus is starting gets the longer bound.
  if (!state && starting->wait(start)) {
    state = pending->wait(start + startWait);
    if (!state) registryStartMissed = true;
  }
  if (!state) g_cancellable_cancel(cancellable);
  g_object_unref(cancellable);
  return state.value_or(stores::AccessState::unknown);
}

}  // namespace pimbridge::eds
