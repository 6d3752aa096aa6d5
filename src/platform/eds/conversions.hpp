// What the EDS backend makes of a task's and a contact's stored values: the
// rules it shares with the other backend that reads iCalendar and vCard.
#pragma once

#include "platform/item_values.hpp"

namespace pimbridge::eds {

using items::DueForm;
using items::dueMoment;
using items::DueReading;
using items::joinedValues;
using items::localZone;
using items::taskIdentifier;

}  // namespace pimbridge::eds
