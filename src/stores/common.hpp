// What the reminder store and the contact store have in common at the seam:
// the raw authorization state and the completion of an access request.
#pragma once

#include <cstdint>
#include <functional>

namespace pimbridge::stores {

// A raw authorization state exactly as the platform reports it.
using RawStatus = std::int64_t;

// Called once, on any thread, with the user's answer to an access request.
// The second argument tells whether the platform also passed an error object.
using AccessCompletion = std::function<void(bool granted, bool errorPresent)>;

}  // namespace pimbridge::stores
