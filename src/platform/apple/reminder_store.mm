// The reminder store on macOS: EventKit's EKEventStore behind the tool's
// ReminderStore, converting every answer to the seam's C++ values at once.
#import <EventKit/EventKit.h>
#import <Foundation/Foundation.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "answer/boundary.hpp"
#include "platform/apple/at_most_once.hpp"
#include "platform/apple/conversions.hpp"
#include "platform/macos_authorization.hpp"
#include "stores/reminder_store.hpp"

#if !__has_feature(objc_arc)
#error "This file requires ARC support."
#endif

// The oldest macOS the build runs on (as 130000 for 13.0), which decides
// whether a request that later systems deprecate is compiled at all. Clang
// sets it from the target; newer compilers also under a name for every OS.
#if defined(__ENVIRONMENT_MAC_OS_X_VERSION_MIN_REQUIRED__)
#define PIMBRIDGE_MACOS_MIN_REQUIRED __ENVIRONMENT_MAC_OS_X_VERSION_MIN_REQUIRED__
#elif defined(__ENVIRONMENT_OS_VERSION_MIN_REQUIRED__)
#define PIMBRIDGE_MACOS_MIN_REQUIRED __ENVIRONMENT_OS_VERSION_MIN_REQUIRED__
#else
#error "The macOS deployment target is unknown: compile for a macOS target."
#endif

// No Objective-C exception leaves this file: each call into EventKit is
// wrapped, and a call that raised ends in the nearest outcome the seam
// defines (a refused request, no lists, a predicate that selects nothing, a
// fetch without reminders). No C++ exception enters EventKit's frames: every
// block that EventKit calls runs its work inside answer::atBoundary.

namespace pimbridge::stores {
namespace {

// A started fetch: the store and the identifier EventKit returned for it,
// which cancels it.
class EventKitReminderFetch final : public ReminderFetch {
 public:
  EventKitReminderFetch(EKEventStore* _Nonnull store, id _Nullable identifier)
      : store_(store), identifier_(identifier) {}

  void cancel() override {
    if (identifier_ == nil) return;
    @try {
      [store_ cancelFetchRequest:identifier_];
    } @catch (id) {
      // The fetch is given up either way; its late completion is ignored.
    }
  }

 private:
  EKEventStore* _Nonnull store_;
  id _Nullable identifier_;
};

Reminder reminderFrom(EKReminder* _Nonnull reminder) {
  Reminder result;
  result.identifier = apple::stdString(reminder.calendarItemIdentifier);
  // NOTE: EventKit leaves the title's nullability unspecified, and a nil
  // title has crashed other programs; stdString turns nil into "".
  result.title = apple::stdString(reminder.title);
  result.due = apple::pointInTimeFromComponents(reminder.dueDateComponents);
  result.completed = [reminder isCompleted];
  return result;
}

// The reminders of one fetch, or none when EventKit gave no list. A reminder
// whose properties raise ends the reading; those read before it are kept.
std::optional<std::vector<Reminder>> remindersFrom(NSArray<EKReminder*>* _Nullable reminders) {
  if (reminders == nil) return std::nullopt;
  std::vector<Reminder> result;
  result.reserve(reminders.count);
  @try {
    for (EKReminder* reminder in reminders) {
      // What reading one reminder autoreleases is released before the next,
      // so that memory stays flat over a list of any length.
      @autoreleasepool {
        result.push_back(reminderFrom(reminder));
      }
    }
  } @catch (id) {
  }
  return result;
}

class EventKitReminderStore final : public ReminderStore {
 public:
  // The request of the running system: full access from macOS 14 on, the
  // older request for reminders before it.
  void requestAccess(AccessCompletion completion) override {
    const auto done = apple::atMostOnce(std::move(completion));
    if (@available(macOS 14.0, *)) {
      @try {
        [store_ requestFullAccessToRemindersWithCompletion:^(BOOL granted, NSError* _Nullable error) {
          answer::atBoundary([&] { done(granted, error != nil); });
        }];
      } @catch (id) {
        done(false, true);
      }
    } else {
#if PIMBRIDGE_MACOS_MIN_REQUIRED < 140000
      @try {
        [store_ requestAccessToEntityType:EKEntityTypeReminder
                               completion:^(BOOL granted, NSError* _Nullable error) {
                                 answer::atBoundary([&] { done(granted, error != nil); });
                               }];
      } @catch (id) {
        done(false, true);
      }
#else
      // NOTE: this request is deprecated from macOS 14, so a build for macOS
      // 14 or later, which never runs on an older system, leaves it out.
      done(false, true);
#endif
    }
  }

  std::vector<ReminderList> lists() override {
    std::vector<ReminderList> result;
    std::vector<EKCalendar*> known;
    @try {
      for (EKCalendar* calendar in [store_ calendarsForEntityType:EKEntityTypeReminder]) {
        result.push_back(ReminderList{apple::stdString(calendar.calendarIdentifier), apple::stdString(calendar.title),
                                      known.size()});
        known.push_back(calendar);
      }
    } @catch (id) {
      result.clear();
      known.clear();
    }
    knownCalendars_ = std::move(known);
    return result;
  }

  std::unique_ptr<ReminderFetch> fetch(const ReminderList& list, FetchCompletion completion) override {
    const auto done = apple::atMostOnce(std::move(completion));
    NSPredicate* selection = predicateFor(list);
    if (selection == nil) {
      done(std::vector<Reminder>{});
      return std::make_unique<EventKitReminderFetch>(store_, nil);
    }
    id identifier = nil;
    @try {
      identifier = [store_ fetchRemindersMatchingPredicate:selection
                                                completion:^(NSArray<EKReminder*>* _Nullable reminders) {
                                                  answer::atBoundary([&] { done(remindersFrom(reminders)); });
                                                }];
    } @catch (id) {
      // A fetch that failed to start will deliver nothing; answering now
      // spares the command its wait for this list.
      done(std::nullopt);
    }
    return std::make_unique<EventKitReminderFetch>(store_, identifier);
  }

 private:
  // Predicates are built from EventKit's own calendar objects, so the store
  // keeps those that lists() gave last and finds one again by its
  // position, which stays right even when two lists share an identifier. A
  // list it did not give selects no reminder, rather than falling back to
  // every list as a nil calendar list would.
  EKCalendar* _Nullable knownCalendar(const ReminderList& list) const {
    if (list.position >= knownCalendars_.size()) return nil;
    EKCalendar* known = knownCalendars_[list.position];
    return apple::stdString(known.calendarIdentifier) == list.identifier ? known : nil;
  }

  // The predicate for one list's reminders; nil when it could not be made,
  // which selects no reminder.
  NSPredicate* _Nullable predicateFor(const ReminderList& list) const {
    EKCalendar* calendar = knownCalendar(list);
    if (calendar == nil) return nil;
    @try {
      return [store_ predicateForRemindersInCalendars:@[ calendar ]];
    } @catch (id) {
      return nil;
    }
  }

  EKEventStore* store_ = [[EKEventStore alloc] init];
  std::vector<EKCalendar*> knownCalendars_;
};

}  // namespace

std::unique_ptr<ReminderStore> makeReminderStore() {
  return std::make_unique<EventKitReminderStore>();
}

AccessState reminderAccessState() {
  @try {
    return macos::reminderStatus(
        static_cast<std::int64_t>([EKEventStore authorizationStatusForEntityType:EKEntityTypeReminder]));
  } @catch (id) {
    return AccessState::unknown;
  }
}

}  // namespace pimbridge::stores
