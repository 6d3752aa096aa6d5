// The one-shot signal between a platform callback and the main thread.
#include "stores/signal.hpp"

#include <utility>

namespace pimbridge::stores {

void Signal::raise() {
  std::function<void()> wake;
  {
    const std::lock_guard lock(mutex_);
    if (raised_) return;
    raised_ = true;
    wake = wake_;
  }
  changed_.notify_all();
  if (wake) wake();
}

bool Signal::raised() const {
  const std::lock_guard lock(mutex_);
  return raised_;
}

bool Signal::waitUntil(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  return changed_.wait_until(lock, deadline, [this] { return raised_; });
}

void Signal::onRaise(std::function<void()> wake) {
  const std::lock_guard lock(mutex_);
  wake_ = std::move(wake);
}

}  // namespace pimbridge::stores
