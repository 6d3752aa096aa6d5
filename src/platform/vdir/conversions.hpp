// What the vdir backend makes of the files it reads, in plain C++ so that the
// rules are checked without a vdir: the text checks every item passes, item
// names and titles, and vdirsyncer's configuration; due dates, identifiers
// and vCard values by the rules shared with EDS.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/item_values.hpp"

namespace pimbridge::vdir {

// The rules the backend shares with the other backend that reads iCalendar
// and vCard.
using items::DueForm;
using items::dueMoment;
using items::DueReading;
using items::joinedValues;
using items::localZone;
using items::taskIdentifier;

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
