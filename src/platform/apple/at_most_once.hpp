// A one-shot callback that may be answered from two places: the platform's
// completion block, and the store's own answer when the platform call raised.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <utility>

namespace pimbridge::apple {

// Wraps a callback so that only the first call, from whichever thread, reaches
// it; later calls do nothing. The copies share one state, so the wrapper can
// be captured by a block and also kept by the caller. The wrapped callback is
// released once it has run.
template <class... Args>
std::function<void(Args...)> atMostOnce(std::function<void(Args...)> callback) {
  struct Pending {
    explicit Pending(std::function<void(Args...)> callback) : callback(std::move(callback)) {}
    std::atomic<bool> answered{false};
    std::function<void(Args...)> callback;
  };
  auto pending = std::make_shared<Pending>(std::move(callback));
  return [pending](Args... args) {
    if (pending->answered.exchange(true)) return;
    auto callback = std::move(pending->callback);
    if (callback) callback(std::forward<Args>(args)...);
  };
}

}  // namespace pimbridge::apple
