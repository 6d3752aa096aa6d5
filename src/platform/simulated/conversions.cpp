// A world's due-date components to a point in time.
#include "platform/simulated/conversions.hpp"

#include <chrono>
#include <cstdint>

#include "calendar/local_time.hpp"

namespace pimbridge::simulated {

std::optional<stores::PointInTime> convertDue(const DueComponents& due) {
  if (!due.year || !due.month || !due.day) return std::nullopt;
  const auto reading = calendar::checkedReading(*due.year, *due.month, *due.day, due.hour.value_or(0),
                                                due.minute.value_or(0), due.second.value_or(0));
  const std::int64_t offsetMinutes = due.utcOffsetMinutes.value_or(0);
  if (!reading || offsetMinutes < -1080 || offsetMinutes > 1080) return std::nullopt;
  const std::int64_t seconds = calendar::readingSeconds(*reading) - offsetMinutes * 60;
  return stores::PointInTime(std::chrono::duration<double>(static_cast<double>(seconds)));
}

}  // namespace pimbridge::simulated
