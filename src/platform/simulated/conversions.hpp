// What the simulated platform makes of a world's values for the tool: the
// date-components conversion of a reminder's due date.
#pragma once

#include <optional>

#include "platform/simulated/world.hpp"
#include "stores/reminder_store.hpp"

namespace pimbridge::simulated {

// The simulated date-components conversion: a point in time only when year,
// month and day are given and every given component is in range.
std::optional<stores::PointInTime> convertDue(const DueComponents& due);

}  // namespace pimbridge::simulated
