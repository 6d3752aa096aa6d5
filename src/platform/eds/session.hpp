// The EDS backend's own GLib thread and what it shares across one run: the
// session bus, the source registry, and the way the tool's threads wait for
// what that thread delivers. Internal to the backend: GLib's types stay here.
#pragma once

#include <gio/gio.h>
#include <libedataserver/libedataserver.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "answer/boundary.hpp"
#include "stores/access.hpp"

namespace pimbridge::eds {

using Clock = std::chrono::steady_clock;

// NOTE: EDS 3.46 serves these names; the client libraries do not export them.
inline constexpr const char* registryBusName = "org.gnome.evolution.dataserver.Sources5";
inline constexpr const char* calendarFactoryBusName = "org.gnome.evolution.dataserver.Calendar8";
inline constexpr const char* addressBookFactoryBusName = "org.gnome.evolution.dataserver.AddressBook10";

// How long the tool waits for EDS: each state read (the bus and the
// services' answers), a state read while the bus starts the registry (its
// first use after login, on a loaded desktop), the source registry, and a
// whole contact export.
inline constexpr auto statusWait = std::chrono::milliseconds(1000);
inline constexpr auto startWait = std::chrono::seconds(15);
inline constexpr auto registryWait = std::chrono::seconds(5);
inline constexpr auto contactsWait = std::chrono::seconds(10);

// How long opening a client waits for its backend to report itself online.
// Local task lists and address books never do, so any other value costs its
// whole length on every list and book (and 0 waits for ever); -1 does not
// wait.
inline constexpr guint32 noConnectWait = static_cast<guint32>(-1);

// Called once at start-up: keeps GLib's and the libraries' own output off
// the tool's streams, and finds the session bus.
void startSession();

// True when a session bus is named (DBUS_SESSION_BUS_ADDRESS, or the
// runtime directory's bus socket). Without one no D-Bus connection is tried:
// GLib would otherwise try to launch a bus, which would outlive the tool.
bool sessionBusNamed();

// Runs the task on the backend's GLib thread, which is started on first use.
// Every EDS call is made there, so that the callbacks of asynchronous calls
// run there too, in its own main context.
void runOnGlibThread(std::function<void()> task);

// A value that the GLib thread delivers once and another thread waits for.
template <typename T>
class Pending {
 public:
  // From the GLib thread; only the first delivery counts.
  void deliver(T value) {
    {
      const std::lock_guard lock(mutex_);
      if (value_) return;
      value_.emplace(std::move(value));
    }
    delivered_.notify_all();
  }

  // None when the deadline passed first.
  std::optional<T> wait(Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    if (!delivered_.wait_until(lock, deadline, [this] { return value_.has_value(); })) return std::nullopt;
    return std::move(value_);
  }

 private:
  std::mutex mutex_;
  std::condition_variable delivered_;
  std::optional<T> value_;
};

// Starts work on the GLib thread and waits for its result until the deadline.
// The work gets the Pending to deliver to and a cancellable for its calls,
// which is cancelled when the deadline passes first: what the work delivers
// after that is dropped. None at the deadline.
template <typename T>
std::optional<T> awaitGlib(Clock::time_point deadline,
                           std::function<void(std::shared_ptr<Pending<T>>, GCancellable*)> work) {
  auto pending = std::make_shared<Pending<T>>();
  GCancellable* cancellable = g_cancellable_new();
  g_object_ref(cancellable);  // the GLib thread's reference
  runOnGlibThread([pending, cancellable, work = std::move(work)] {
    answer::atBoundary([&] { work(pending, cancellable); });
    g_object_unref(cancellable);
  });
  auto result = pending->wait(deadline);
  if (!result) g_cancellable_cancel(cancellable);
  g_object_unref(cancellable);
  return result;
}

// On the GLib thread: calls `then` with the session bus once it is there,
// or with null when it could not be reached. The tool holds the connection
// for the whole run, and owns what happens when the bus goes away.
void withSessionBus(std::function<void(GDBusConnection*)> then);

// On the GLib thread: calls `then` with the source registry once it is
// there, or with null when it could not be made. The registry is made once
// per run; its making ignores cancelling, so the callers bound their waits.
void withRegistry(std::function<void(ESourceRegistry*)> then);

// The state of a store served by the registry and this factory, read within
// statusWait, or within startWait while the bus starts the registry. EDS has
// no permission to grant, only services that answer or not: authorized when
// both do, restricted when the bus says one is not there (or is not the
// tool's to reach), unknown when there is no bus or no answer in time.
stores::AccessState storeState(const char* factoryBusName);

// GLib's own reference-counted values, released at the end of a scope.
struct GObjectRelease {
  void operator()(gpointer object) const {
    if (object != nullptr) g_object_unref(object);
  }
};
template <typename T>
using GRef = std::unique_ptr<T, GObjectRelease>;

struct GFreeRelease {
  void operator()(gpointer memory) const { g_free(memory); }
};
using GText = std::unique_ptr<gchar, GFreeRelease>;

struct GErrorRelease {
  void operator()(GError* error) const {
    if (error != nullptr) g_error_free(error);
  }
};
using GErrorRef = std::unique_ptr<GError, GErrorRelease>;

}  // namespace pimbridge::eds
