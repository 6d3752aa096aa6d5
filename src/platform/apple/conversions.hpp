// Foundation's values as the tool's C++ values, for the macOS store layer:
// texts, moments and due-date components.
//
// The header imports no framework header. The Foundation classes are only
// named, and only under __OBJC__, so plain C++ that includes it sees none of
// them.
#pragma once

#include <optional>
#include <string>

#include "stores/reminder_store.hpp"

#ifdef __OBJC__

@class NSDate;
@class NSDateComponents;
@class NSString;

namespace pimbridge::apple {

// The text's UTF-8 bytes, read from its UTF-16 code units; nil gives "".
// A lone surrogate is kept in its three-byte form (see utf8FromUtf16).
std::string stdString(NSString* _Nullable text);

// The string whose text stdString gives back as these bytes.
NSString* _Nonnull nsString(const std::string& text);

stores::PointInTime pointInTime(NSDate* _Nonnull date);

// The moment that a reminder's due-date components denote, or none. Only era,
// year, month, day, hour, minute and second are read (week-based fields are
// ignored); year, month and day must be set, and a missing time of day means
// midnight. The components' own calendar is used when they carry one, else
// the Gregorian calendar; their own time zone when they carry one, else the
// system's, since components without a zone mean local time.
std::optional<stores::PointInTime> pointInTimeFromComponents(NSDateComponents* _Nullable components);

}  // namespace pimbridge::apple

#endif
