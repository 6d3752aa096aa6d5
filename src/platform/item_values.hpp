// What the backends that read iCalendar tasks and vCard cards (EDS and vdir)
// make of their stored values, said once: a DUE by how it is written, a task's
// identifier, and a vCard value split at its semicolons. Plain C++, so that
// the rules are checked without any store.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "calendar/local_time.hpp"
#include "stores/reminder_store.hpp"

namespace pimbridge::items {

// How a task's DUE is written in iCalendar.
enum class DueForm {
  utc,       // a date-time ending in Z
  zoned,     // a date-time with a TZID
  floating,  // a date-time with neither: the reader's local time
  date,      // a date alone (VALUE=DATE): its start in the reader's local time
};

// A DUE as stored: the clock reading, not yet checked, and how to read it. A
// date has no time of day; its hour, minute and second are 0.
struct DueReading {
  calendar::Reading clock;
  DueForm form = DueForm::utc;
};

// The moment a DUE denotes. A zoned reading is resolved in its zone, which is
// none when the zone could not be found; a floating or date reading in the
// local zone. None for a reading that names no date or time of day.
std::optional<stores::PointInTime> dueMoment(const DueReading& due, const calendar::UtcOffsetAt* zone,
                                             const calendar::UtcOffsetAt& local);

// The process's local zone as the C library knows it, which follows TZ.
calendar::UtcOffsetAt localZone();

// A task's identifier: its UID, and for a detached instance of a recurring
// task, which shares the UID, "#" and its RECURRENCE-ID as iCalendar writes
// it (for example "day-off@example.org#20240108T090000Z").
std::string taskIdentifier(std::string_view uid, std::string_view recurrenceId);

// The text of a vCard value that the card splits at unescaped semicolons
// (TEL:12;34 holds the values 12 and 34), put back together as one text.
std::string joinedValues(const std::vector<std::string_view>& values);

}  // namespace pimbridge::items
