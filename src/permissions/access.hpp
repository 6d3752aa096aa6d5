// The access requests: the platform's own prompt for one store, a wait of at
// most 60 seconds on the main thread, and exactly one answer per run.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>

namespace pimbridge::permissions {

// "request-reminders" and "request-contacts". They return only when the wait
// ended before the platform answered; the answer itself ends the process.
void requestReminders();
void requestContacts();

inline constexpr std::chrono::duration<double> accessWait{60.0};

// Decides which of the two ways an access request can end happens: the
// platform's answer, or the end of the wait. Whichever claims first wins;
// the other then does nothing.
class AnswerClaim {
 public:
  bool claim() noexcept { return !claimed_.exchange(true, std::memory_order_acq_rel); }

 private:
  std::atomic<bool> claimed_{false};
};

// Waits on the main thread until the deadline by the clock, calling wait
// again whenever it returns early (a platform wait may return at once), then
// claims the run for the deadline. True when the deadline won: nothing was
// printed and the run ends with status 0. False when the answer won: its
// thread is printing and will end the process.
using SteadyNow = std::function<std::chrono::steady_clock::time_point()>;
using WaitUntil = std::function<void(std::chrono::steady_clock::time_point)>;
bool waitForAnswer(AnswerClaim& claim, std::chrono::steady_clock::time_point deadline, const SteadyNow& now,
                   const WaitUntil& wait);

}  // namespace pimbridge::permissions
