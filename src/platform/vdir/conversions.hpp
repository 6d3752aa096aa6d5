// What the vdir backend makes of the files it reads, in plain C++ so that the
// rules are checked without a vdir: due dates, identifiers, vCard values, the
// text checks every item passes, and vdirsyncer's configuration.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "calendar/local_time.hpp"
#include "stores/reminder_store.hpp"

namespace pimbridge::vdir {

// How a task's DUE is written in iCalendar.
enum class DueForm {
  utc,       // a date-time ending in Z
  zoned,     // a date-time with a TZID
  floating,  // a date-time with neither: the reader's local time
  date,      // a date alone (VALUE=DATE): its start in the reader's local time
};

// A DUE as stored: the clock reading and how to read it. A date has no time
// of day; its hour, minute and second are 0.
struct DueReading {
  std::int64_t year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  DueForm form = DueForm::utc;
};

// The moment a DUE denotes. A zoned reading is resolved in its zone, which is
// null when neither the file nor the system knows the zone; a floating or
// date reading in the local zone. None for a reading that names no date or
// time of day, or whose zone is unknown.
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

// True when the bytes are UTF-8 throughout and hold no NUL.
bool isCleanText(std::string_view bytes);

// True when an item file's text is clean once its folded lines are joined
// (a line end followed by a space or a tab is taken out), since a writer may
// fold a line inside a character. A file that fails is skipped whole:
// iCalendar and vCard 4 are UTF-8 by definition, a repaired text (the vCard
// parser would put U+FFFD in) would give the host names and identifiers that
// no other tool shows, and the parsers read C strings, which a NUL would cut
// short unseen.
bool isCleanItemText(std::string_view text);

// Whether a collection folder's entry names an item with the extension
// (".ics", ".vcf"): not hidden, not a vdirsyncer temporary file, not the
// extension alone.
bool isItemName(std::string_view name, std::string_view extension);

// The file name without its last extension ("a.b.vcf" gives "a.b").
std::string fileStem(std::string_view name);

// How many cards the text holds, counted by the lines that open one
// (BEGIN:VCARD at the start of a line, in any case). A folded line never
// starts there, and a card inside a property value is escaped onto one line.
std::size_t cardsOpened(std::string_view text);

// A list's title from its displayname file: the first line without its line
// end; none when it is empty or not clean text.
std::optional<std::string> displayTitle(std::string_view fileText);

// What a vdirsyncer configuration names: the folders of its filesystem
// storages, each with the storages' order kept, split by the extension of
// their items.
struct ConfiguredFolders {
  std::vector<std::string> tasks;     // storages with fileext ".ics"
  std::vector<std::string> contacts;  // storages with fileext ".vcf"
};

// Reads a vdirsyncer configuration's text. Each value is JSON, as vdirsyncer
// reads it; a path's leading "~" is the home folder. None when the text is
// not a configuration that can be read (its syntax, or a value that is not
// JSON).
std::optional<ConfiguredFolders> foldersOfConfig(std::string_view text, std::string_view home);

}  // namespace pimbridge::vdir
