// Due dates, task identifiers and vCard values of the iCalendar and vCard backends.
#include "platform/item_values.hpp"

#include <time.h>

#include <chrono>

namespace pimbridge::items {

namespace {

stores::PointInTime pointAt(std::int64_t seconds) {
  return stores::PointInTime(std::chrono::duration<double>(static_cast<double>(seconds)));
}

}  // namespace

std::optional<stores::PointInTime> dueMoment(const DueReading& due, const calendar::UtcOffsetAt* zone,
                                             const calendar::UtcOffsetAt& local) {
  const calendar::Reading& c = due.clock;
  const bool dateOnly = due.form == DueForm::date;
  const auto checked = calendar::checkedReading(c.year, c.month, c.day, dateOnly ? 0 : c.hour, dateOnly ? 0 : c.minute,
                                                dateOnly ? 0 : c.second);
  if (!checked) return std::nullopt;
  const std::int64_t reading = calendar::readingSeconds(*checked);
  switch (due.form) {
    case DueForm::utc:
      return pointAt(reading);
    case DueForm::zoned:
      if (zone == nullptr) return std::nullopt;
      return pointAt(calendar::utcSecondsFromLocal(reading, *zone));
    case DueForm::floating:
    case DueForm::date:
      return pointAt(calendar::utcSecondsFromLocal(reading, local));
  }
  return std::nullopt;
}

calendar::UtcOffsetAt localZone() {
  return [](std::int64_t utcSeconds) -> std::int64_t {
    const auto moment = static_cast<time_t>(utcSeconds);
    struct tm fields {};
    if (::localtime_r(&moment, &fields) == nullptr) return 0;
    return fields.tm_gmtoff;
  };
}

std::string taskIdentifier(std::string_view uid, std::string_view recurrenceId) {
  std::string id(uid);
  if (!recurrenceId.empty()) {
    id.push_back('#');
    id.append(recurrenceId);
  }
  return id;
}

std::string joinedValues(const std::vector<std::string_view>& values) {
  std::string text;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) text.push_back(';');
    text.append(values[i]);
  }
  return text;
}

}  // namespace pimbridge::items
