// Dates as the tool writes them: ISO 8601 internet date-time text in UTC.
#pragma once

#include <optional>
#include <string>

#include "stores/reminder_store.hpp"

namespace pimbridge::reminders {

// YYYY-MM-DDTHH:MM:SSZ for a point in time, sub-second parts cut off towards
// the earlier second. None for no point in time, and for a time outside the
// years 0001 to 9999, which the four-digit form cannot express.
std::optional<std::string> iso(const std::optional<stores::PointInTime>& time);

}  // namespace pimbridge::reminders
