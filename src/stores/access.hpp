// What the reminder store and the contact store have in common at the seam:
// the state of the user's permission, and the answer to an access request.
#pragma once

#include <functional>

namespace pimbridge::stores {

// A store's authorization state, in the tool's words. Each backend maps the
// conditions of its own platform onto these; anything it cannot place is
// unknown.
enum class AccessState {
  notDetermined,  // the user has not been asked yet
  restricted,     // access is ruled out by policy, or the store is not there
  denied,         // the user refused access
  authorized,     // full access
  writeOnly,      // reminders only: the tool may add but not read
  limited,        // contacts only: some contacts, chosen by the user
  unknown,
};

// Called once, on any thread, with the user's answer to an access request.
// The second argument tells whether the platform also passed an error object.
using AccessCompletion = std::function<void(bool granted, bool errorPresent)>;

}  // namespace pimbridge::stores
