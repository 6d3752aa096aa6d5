// The authorization states of macOS's reminder and contact stores, as the raw
// numbers EventKit and the Contacts framework report, in the tool's words.
// Shared by the backends that speak those numbers: the macOS layer, and the
// simulated platform, which models macOS.
#pragma once

#include <cstdint>

#include "stores/access.hpp"

namespace pimbridge::macos {

// The raw states. Anything else, negative values included, has no meaning
// the tool knows of.
enum RawAuthorizationStatus : std::int64_t {
  notDetermined = 0,
  restricted = 1,
  denied = 2,
  authorized = 3,
  partial = 4,  // write-only reminders, limited contacts
};

namespace detail {
constexpr stores::AccessState accessState(std::int64_t raw, stores::AccessState partialState) {
  switch (raw) {
    case notDetermined:
      return stores::AccessState::notDetermined;
    case restricted:
      return stores::AccessState::restricted;
    case denied:
      return stores::AccessState::denied;
    case authorized:
      return stores::AccessState::authorized;
    case partial:
      return partialState;
    default:
      return stores::AccessState::unknown;
  }
}
}  // namespace detail

// An EKAuthorizationStatus, total over the signed 64-bit range.
constexpr stores::AccessState reminderStatus(std::int64_t raw) {
  return detail::accessState(raw, stores::AccessState::writeOnly);
}

// A CNAuthorizationStatus, total over the signed 64-bit range. The two differ
// only at 4.
constexpr stores::AccessState contactsStatus(std::int64_t raw) {
  return detail::accessState(raw, stores::AccessState::limited);
}

}  // namespace pimbridge::macos
