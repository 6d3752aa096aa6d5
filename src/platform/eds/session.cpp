// The GLib thread of the EDS backend, the session bus, the registry, and the
// state of a store.
#include "platform/eds/session.hpp"

#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

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
  answer::atBoundary([data] { (*static_cast<std::function<void()>*>(data))(); });
  return G_SOURCE_REMOVE;
}

void deleteTask(gpointer data) {
  delete static_cast<std::function<void()>*>(data);
}

// --- the registry, on the GLib thread only

ESourceRegistry* registry = nullptr;
bool registryRequested = false;
bool registryFailed = false;
std::vector<std::function<void(ESourceRegistry*)>> registryWaiters;

void registryMade(GObject*, GAsyncResult* result, gpointer) {
  answer::atBoundary([result] {
    GError* error = nullptr;
    registry = e_source_registry_new_finish(result, &error);
    GErrorRef failure(error);
    registryFailed = registry == nullptr;
    auto waiters = std::move(registryWaiters);
    for (auto& then : waiters) then(registry);
  });
}

// --- the state of a store

// What the bus said about one of the services a store needs.
enum class Answer { pending, answered, absent, silent };

// Both the registry's and the factory's answer; the state follows from the
// pair once both are in.
struct StateRead {
  std::shared_ptr<Pending<stores::RawStatus>> pending;
  GCancellable* cancellable;
  GDBusConnection* bus = nullptr;
  std::string factory;
  Answer registry = Answer::pending;
  Answer factoryAnswer = Answer::pending;
  int callsInFlight = 1;  // the bus request

  ~StateRead() {
    g_object_unref(cancellable);
    if (bus != nullptr) g_object_unref(bus);
  }

  void settle() {
    if (registry == Answer::pending || factoryAnswer == Answer::pending) return;
    if (registry == Answer::absent || factoryAnswer == Answer::absent) {
      pending->deliver(stateRestricted);
    } else if (registry == Answer::silent || factoryAnswer == Answer::silent) {
      pending->deliver(stateUnknown);
    } else {
      pending->deliver(stateAuthorized);
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

// No single call takes longer than the whole read may; the read's own wait
// ends it sooner when the calls add up.
constexpr int callTimeoutMs = static_cast<int>(statusWait.count());

// The reply of a finished call; none when it failed, with what the failure
// says about the service in `failed`.
GVariant* replyOf(GObject* source, GAsyncResult* result, Answer& failed) {
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
  const GErrorRef failure(error);
  if (reply == nullptr) failed = absentName(error) ? Answer::absent : Answer::silent;
  return reply;
}

void registryPinged(GObject* source, GAsyncResult* result, gpointer data) {
  auto* read = static_cast<StateRead*>(data);
  answer::atBoundary([&] {
    GVariant* reply = replyOf(source, result, read->registry);
    if (reply != nullptr) {
      g_variant_unref(reply);
      read->registry = Answer::answered;
    }
    read->settle();
  });
  callDone(read);
}

void factoryActivatable(GObject* source, GAsyncResult* result, gpointer data) {
  auto* read = static_cast<StateRead*>(data);
  answer::atBoundary([&] {
    GVariant* reply = replyOf(source, result, read->factoryAnswer);
    if (reply != nullptr) {
      GVariantIter* names = nullptr;
      const gchar* name = nullptr;
      bool found = false;
      g_variant_get(reply, "(as)", &names);
      while (g_variant_iter_next(names, "&s", &name)) found = found || read->factory == name;
      g_variant_iter_free(names);
      g_variant_unref(reply);
      read->factoryAnswer = found ? Answer::answered : Answer::absent;
    }
    read->settle();
  });
  callDone(read);
}

void factoryOwned(GObject* source, GAsyncResult* result, gpointer data) {
  auto* read = static_cast<StateRead*>(data);
  answer::atBoundary([&] {
    GVariant* reply = replyOf(source, result, read->factoryAnswer);
    gboolean owned = FALSE;
    if (reply != nullptr) {
      g_variant_get(reply, "(b)", &owned);
      g_variant_unref(reply);
    }
    if (reply == nullptr) {
      read->settle();
    } else if (owned) {
      read->factoryAnswer = Answer::answered;
      read->settle();
    } else {
      // Not running: the factory still counts when the bus can start it.
      ++read->callsInFlight;
      g_dbus_connection_call(read->bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                             "ListActivatableNames", nullptr, G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE,
                             callTimeoutMs, read->cancellable, factoryActivatable, read);
    }
  });
  callDone(read);
}

void busReached(GObject*, GAsyncResult* result, gpointer data) {
  auto* read = static_cast<StateRead*>(data);
  answer::atBoundary([&] {
    GError* error = nullptr;
    read->bus = g_bus_get_finish(result, &error);
    GErrorRef failure(error);
    if (read->bus == nullptr) {
      read->pending->deliver(stateUnknown);
      return;
    }
    read->callsInFlight += 2;
    // The registry must answer itself; asking it starts it where it is not
    // running yet, as every client of EDS does.
    g_dbus_connection_call(read->bus, registryBusName, "/", "org.freedesktop.DBus.Peer", "Ping", nullptr, nullptr,
                           G_DBUS_CALL_FLAGS_NONE, callTimeoutMs, read->cancellable, registryPinged, read);
    // The factory need only be there: running, or startable by the bus.
    g_dbus_connection_call(read->bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "NameHasOwner", g_variant_new("(s)", read->factory.c_str()), G_VARIANT_TYPE("(b)"),
                           G_DBUS_CALL_FLAGS_NONE, callTimeoutMs, read->cancellable, factoryOwned, read);
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
  g_main_context_invoke_full(glibContext, G_PRIORITY_DEFAULT, runTask, new std::function<void()>(std::move(task)),
                             deleteTask);
}

void withRegistry(std::function<void(ESourceRegistry*)> then) {
  if (registry != nullptr || registryFailed) {
    then(registry);
    return;
  }
  registryWaiters.push_back(std::move(then));
  if (registryRequested) return;
  registryRequested = true;
  e_source_registry_new(nullptr, registryMade, nullptr);
}

stores::RawStatus storeState(const char* factoryBusName) {
  if (!sessionBusNamed()) return stateUnknown;
  const std::string factory(factoryBusName);
  const auto state = awaitGlib<stores::RawStatus>(
      Clock::now() + statusWait, [factory](std::shared_ptr<Pending<stores::RawStatus>> pending, GCancellable* cancel) {
        // Owned by the calls in flight; the last to answer frees it.
        g_object_ref(cancel);
        auto* read = new StateRead{std::move(pending), cancel, nullptr, factory};
        g_bus_get(G_BUS_TYPE_SESSION, cancel, busReached, read);
      });
  return state.value_or(stateUnknown);
}

}  // namespace pimbridge::eds
