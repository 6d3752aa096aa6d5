// Foundation's texts, dates and date components as the tool's C++ values.
#import <Foundation/Foundation.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "calendar/local_time.hpp"
#include "platform/apple/civil_time.hpp"
#include "platform/apple/conversions.hpp"
#include "platform/apple/utf16.hpp"

#if !__has_feature(objc_arc)
#error "This file requires ARC support."
#endif

namespace pimbridge::apple {
namespace {

// NOTE: NSCalendar's Gregorian calendar counts Julian dates before
// 15 October 1582, while civil_time is proleptic Gregorian. Readings before
// the first whole Gregorian year go to NSCalendar so that both paths agree.
constexpr std::int64_t kFirstWholeGregorianYear = 1583;

std::optional<std::int64_t> field(NSInteger value) {
  if (value == NSDateComponentUndefined) return std::nullopt;
  return value;
}

// Resolves the fields with NSCalendar: for calendars other than the Gregorian,
// and for Gregorian readings before kFirstWholeGregorianYear.
std::optional<stores::PointInTime> pointInTimeInCalendar(NSCalendar* _Nonnull calendar, NSTimeZone* _Nonnull zone,
                                                         const DateFields& fields, bool leapMonth) {
  // A copy, so that setting the zone leaves the components' calendar alone.
  NSCalendar* resolving = [calendar copy];
  resolving.timeZone = zone;

  // Fresh components with only the fields that name the reading: week-based
  // fields resolved together with these could move the result by a week.
  NSDateComponents* wanted = [[NSDateComponents alloc] init];
  if (fields.era) wanted.era = static_cast<NSInteger>(*fields.era);
  wanted.year = static_cast<NSInteger>(*fields.year);
  wanted.month = static_cast<NSInteger>(*fields.month);
  // A lunisolar calendar repeats a month number in a leap year; the flag is
  // part of which month is meant.
  if (leapMonth) wanted.leapMonth = YES;
  wanted.day = static_cast<NSInteger>(*fields.day);
  wanted.hour = static_cast<NSInteger>(fields.hour.value_or(0));
  wanted.minute = static_cast<NSInteger>(fields.minute.value_or(0));
  wanted.second = static_cast<NSInteger>(fields.second.value_or(0));

  NSDate* date = [resolving dateFromComponents:wanted];
  if (date == nil) return std::nullopt;
  return pointInTime(date);
}

}  // namespace

std::string stdString(NSString* _Nullable text) {
  if (text == nil) return {};
  const NSUInteger length = text.length;
  if (length == 0) return {};
  std::vector<unichar> buffer(length);
  [text getCharacters:buffer.data() range:NSMakeRange(0, length)];
  const std::u16string units(buffer.begin(), buffer.end());
  return utf8FromUtf16(units.data(), units.size());
}

NSString* _Nonnull nsString(const std::string& text) {
  const std::u16string units = utf16FromUtf8(text);
  if (units.empty()) return @"";
  const std::vector<unichar> buffer(units.begin(), units.end());
  return [NSString stringWithCharacters:buffer.data() length:buffer.size()];
}

stores::PointInTime pointInTime(NSDate* _Nonnull date) {
  return stores::PointInTime{std::chrono::duration<double>{date.timeIntervalSince1970}};
}

std::optional<stores::PointInTime> pointInTimeFromComponents(NSDateComponents* _Nullable components) {
  if (components == nil) return std::nullopt;

  DateFields fields;
  fields.era = field(components.era);
  fields.year = field(components.year);
  fields.month = field(components.month);
  fields.day = field(components.day);
  fields.hour = field(components.hour);
  fields.minute = field(components.minute);
  fields.second = field(components.second);
  if (!fields.year || !fields.month || !fields.day) return std::nullopt;

  // NOTE: components.date is nil whenever the components carry no calendar,
  // which EventKit's due-date components often do, so the calendar and the
  // zone are chosen here instead.
  NSTimeZone* zone = components.timeZone;
  if (zone == nil) zone = NSTimeZone.systemTimeZone;
  NSCalendar* calendar = components.calendar;

  if (calendar != nil && ![calendar.calendarIdentifier isEqualToString:NSCalendarIdentifierGregorian]) {
    return pointInTimeInCalendar(calendar, zone, fields, components.isLeapMonth);
  }

  const std::optional<calendar::Reading> reading = gregorianDateTime(fields);
  if (!reading) return std::nullopt;
  if (reading->year < kFirstWholeGregorianYear) {
    NSCalendar* gregorian = [[NSCalendar alloc] initWithCalendarIdentifier:NSCalendarIdentifierGregorian];
    if (gregorian == nil) return std::nullopt;
    return pointInTimeInCalendar(gregorian, zone, fields, false);
  }

  const std::int64_t utcSeconds =
      calendar::utcSecondsFromLocal(calendar::readingSeconds(*reading), [zone](std::int64_t moment) {
        NSDate* date = [NSDate dateWithTimeIntervalSince1970:static_cast<NSTimeInterval>(moment)];
        return static_cast<std::int64_t>([zone secondsFromGMTForDate:date]);
      });
  return stores::PointInTime{std::chrono::duration<double>{static_cast<double>(utcSeconds)}};
}

}  // namespace pimbridge::apple
