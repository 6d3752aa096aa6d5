#include "permissions/access.hpp"

#include <thread>

#include "answer/boundary.hpp"
#include "answer/output.hpp"
#include "permissions/status.hpp"
#include "process/process.hpp"
#include "stores/contact_store.hpp"
#include "stores/platform.hpp"
#include "stores/reminder_store.hpp"

namespace pimbridge::permissions {

namespace {

// One claim for the whole process: a run makes one request.
AnswerClaim answerClaim;

void printAnswer(bool granted, std::string_view word) {
  answer::ResultMap result;
  result.setBoolean("ok", granted);
  result.setText("authorization", word);
  answer::emit(result);
  process::endProcess(granted ? 0 : 2);
}

// The completions use nothing of the command: only their granted flag and a
// fresh read of the store's state. The error object is never looked at.
void reminderAnswer(bool granted, bool /*errorPresent*/) {
  if (!answerClaim.claim()) return;
  answer::atBoundary([granted] { printAnswer(granted, currentReminderStatus()); });
}

void contactAnswer(bool granted, bool /*errorPresent*/) {
  if (!answerClaim.claim()) return;
  answer::atBoundary([granted] { printAnswer(granted, currentContactsStatus()); });
}

void awaitAnswer() {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(accessWait);
  if (waitForAnswer(
          answerClaim, deadline, [] { return std::chrono::steady_clock::now(); }, stores::waitOnMainThreadUntil)) {
    return;
  }
  // The answer claimed the run first and is being written on its own thread,
  // which ends the process; this thread must not end it before.
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

}  // namespace

bool waitForAnswer(AnswerClaim& claim, std::chrono::steady_clock::time_point deadline, const SteadyNow& now,
                   const WaitUntil& wait) {
  // NOTE: a run loop with nothing to serve returns from its timed run at
  // once; the wait must still last until the deadline.
  while (now() < deadline) wait(deadline);
  return claim.claim();
}

void requestReminders() {
  auto store = stores::makeReminderStore();
  store->requestAccess(reminderAnswer);
  awaitAnswer();
}

void requestContacts() {
  auto store = stores::makeContactStore();
  store->requestAccess(contactAnswer);
  awaitAnswer();
}

}  // namespace pimbridge::permissions
