// The one-shot signal between a platform callback and the main thread.
#include "stores/platform.hpp"

namespace pimbridge::stores {

void Signal::raise() {
  {
    const std::lock_guard lock(mutex_);
    if (raised_) return;
    raised_ = true;
  }
  changed_.notify_all();
  wakeMainThread();
}

bool Signal::raised() const {
  const std::lock_guard lock(mutex_);
  return raised_;
}

bool Signal::waitUntil(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  return changed_.wait_until(lock, deadline, [this] { return raised_; });
}

}  // namespace pimbridge::stores
