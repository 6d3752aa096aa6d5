// What one run of the vdir backend shares across its two stores: where the
// folders are, read once from the environment or vdirsyncer's configuration;
// the careful reads of folders and item files; and the work done on threads
// of its own so that a hung file system cannot hold the tool.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "answer/boundary.hpp"
#include "stores/access.hpp"

namespace pimbridge::vdir {

using Clock = std::chrono::steady_clock;

// How long the tool waits for the file system: each state read, the list of
// lists, and the whole contact read (a list's reminders are bounded by the
// command's own wait for each fetch).
inline constexpr auto stateWait = std::chrono::milliseconds(1000);
inline constexpr auto listsWait = std::chrono::seconds(5);
inline constexpr auto contactsWait = std::chrono::seconds(5);

// An item file larger than this is skipped unread: a task or a card with a
// photo is far smaller, and the bound keeps one file from costing the whole
// wait.
inline constexpr std::size_t itemSizeLimit = 4 * 1024 * 1024;

// Where the configuration says the folders are.
struct Located {
  bool configFailed = false;  // the configuration exists but could not be read
  // The folders whose subfolders are task collections, in the order given.
  std::vector<std::string> taskRoots;
  // The address book's folder: PIMBRIDGE_VDIR_CONTACTS, or the first
  // collection of the first .vcf storage; none when there is none.
  std::optional<std::string> contacts;
};

// Called once at start-up: keeps GLib's messages off the tool's streams.
void startSession();

// Whether a library has warned through GLib's log on the calling thread
// since the last call; the vCard parser warns of what it could not read.
bool warnedSinceLastAsked();

// Where the folders are, found on first use (this reads the configuration
// and, for the address book, a storage folder) and kept for the run. Call it
// inside a bounded wait: it touches the file system.
const Located& located();

// The state a store's folders give: authorized when at least one can be
// read, else denied when at least one is there and refuses the tool, else
// restricted. Touches the file system.
stores::AccessState foldersState(const std::vector<std::string>& folders, bool configFailed);

// The names in a folder that pass the filter, in byte order; none when the
// folder cannot be read. `stop` is looked at between entries.
std::optional<std::vector<std::string>> sortedNames(const std::string& folder,
                                                    const std::function<bool(const std::string&)>& keep,
                                                    const std::function<bool()>& stop = {});

// The names of a folder's subfolders that are collections (not hidden), in
// byte order; empty when it cannot be read.
std::vector<std::string> collectionNames(const std::string& folder);

// The text of an item file, read with care: no symbolic link is followed, and
// only a regular file of at most itemSizeLimit bytes that did not change
// while it was read is taken. None otherwise.
std::optional<std::string> readItemFile(const std::string& path);

// The text of a small file of the user's set-up (the configuration, a
// displayname), through links; none when it is not a regular file of at most
// a mebibyte that can be read whole.
std::optional<std::string> readSmallFile(const std::string& path);

// Runs the work on a thread of its own and waits for its result until the
// deadline; none when the deadline came first. The work must own what it
// uses: it may go on after the wait has given up on it.
template <typename T>
std::optional<T> withinDeadline(Clock::time_point deadline, std::function<T()> work) {
  struct Shared {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<T> value;
  };
  auto shared = std::make_shared<Shared>();
  std::thread([shared, work = std::move(work)] {
    answer::atBoundary([&] {
      T value = work();
      {
        const std::lock_guard lock(shared->mutex);
        shared->value.emplace(std::move(value));
      }
      shared->done.notify_all();
    });
  }).detach();
  std::unique_lock lock(shared->mutex);
  if (!shared->done.wait_until(lock, deadline, [&] { return shared->value.has_value(); })) return std::nullopt;
  return std::move(shared->value);
}

// Items handed from a reading thread to the waiting one, a few ahead at most,
// so that a stop costs no more reads than that.
template <typename T>
class Handover {
 public:
  explicit Handover(std::size_t ahead) : ahead_(ahead) {}

  // From the reading thread; false once the taker has stopped. The taker is
  // woken only when a batch is full, so that a reader slower than the taker
  // does not wake it for every item.
  bool put(T item) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return stopped_ || items_.size() < ahead_; });
    if (stopped_) return false;
    items_.push_back(std::move(item));
    if (items_.size() == ahead_) changed_.notify_all();
    return true;
  }
  // From the reading thread: nothing more comes; `ok` tells whether it read
  // everything it meant to.
  void end(bool ok) {
    const std::lock_guard lock(mutex_);
    ended_ = true;
    ok_ = ok;
    changed_.notify_all();
  }
  bool stopped() {
    const std::lock_guard lock(mutex_);
    return stopped_;
  }

  enum class Took { items, ended, failed, late };
  // From the taker: a full batch, or at the end or the deadline what there
  // is (at least one item); then the end, or late once the deadline has
  // passed with nothing there.
  Took take(Clock::time_point deadline, std::vector<T>& items) {
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [&] { return ended_ || items_.size() >= ahead_; });
    if (items_.empty()) {
      if (!ended_) return Took::late;
      return ok_ ? Took::ended : Took::failed;
    }
    items.swap(items_);
    items_.clear();
    changed_.notify_all();
    return Took::items;
  }
  void stop() {
    const std::lock_guard lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<T> items_;
  std::size_t ahead_;
  bool stopped_ = false;
  bool ended_ = false;
  bool ok_ = false;
};

}  // namespace pimbridge::vdir
