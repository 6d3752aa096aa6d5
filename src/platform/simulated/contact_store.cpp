// The simulated contact store: the world's contacts of the default container,
// delivered one at a time on the calling thread.
#include <memory>
#include <string>
#include <utility>

#include "platform/macos_authorization.hpp"
#include "platform/simulated/session.hpp"
#include "stores/contact_store.hpp"

namespace pimbridge::stores {

namespace {

using simulated::trace;
using simulated::world;

Contact delivered(const simulated::SimContact& c) {
  return Contact{c.id, c.given, c.family, c.phones, c.emails};
}

class SimContactStore final : public ContactStore {
 public:
  void requestAccess(AccessCompletion completion) override {
    trace("contacts.request-access");
    simulated::answerLater(world().contacts.request, simulated::contactState, std::move(completion));
  }

  // As on macOS: the default container's identifier (the empty one when the
  // store gives none), a predicate for that container, and the enumeration.
  bool enumerateContacts(const ContactStep& step) override {
    const auto& store = world().contacts;
    trace("contacts.default-container");
    const std::string container = store.defaultContainer.value_or(std::string());
    trace("contacts.predicate", container);
    trace("contacts.enumerate");
    std::uint64_t count = 0;
    bool stop = false;
    // Delivers one contact; false once the enumeration has ended.
    auto offer = [&](const simulated::SimContact& c) {
      if (c.container != container) return true;
      if (store.failAfter && count >= *store.failAfter) return false;
      step(delivered(c), stop);
      ++count;
      if (stop) {
        trace("contacts.enumerate-stopped");
        return false;
      }
      return true;
    };
    for (const auto& c : store.contacts) {
      if (!offer(c)) return !failed(count, stop);
    }
    for (std::uint64_t k = 1; k <= store.generate; ++k) {
      const std::string n = std::to_string(k);
      if (!offer(simulated::SimContact{"contact-" + n,
                                       container,
                                       "Given" + n,
                                       "Family" + n,
                                       {"+1 555 " + n},
                                       {"contact" + n + "@example.com"}})) {
        return !failed(count, stop);
      }
    }
    return !failed(count, stop);
  }

 private:
  // The enumeration fails once it has delivered fail_after contacts, also when
  // the container held no more than that; a stop by the caller is a success.
  static bool failed(std::uint64_t count, bool stop) {
    const auto& failAfter = world().contacts.failAfter;
    return !stop && failAfter && count <= *failAfter;
  }
};

}  // namespace

std::unique_ptr<ContactStore> makeContactStore() {
  trace("contacts.init");
  return std::make_unique<SimContactStore>();
}

AccessState contactAccessState() {
  trace("contacts.status");
  return macos::contactsStatus(simulated::contactState.load());
}

}  // namespace pimbridge::stores
