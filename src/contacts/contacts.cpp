#include "contacts/contacts.hpp"

#include <vector>

#include "answer/boundary.hpp"
#include "answer/output.hpp"
#include "contacts/contact_row.hpp"
#include "permissions/status.hpp"
#include "stores/contact_store.hpp"

namespace pimbridge::contacts {

void exportContacts() {
  auto store = stores::makeContactStore();
  permissions::passGate(permissions::GatedStore::contacts);

  std::vector<ContactRow> rows;
  // A failed enumeration is not reported: the rows delivered before it are
  // the answer.
  static_cast<void>(store->enumerateContacts([&rows](stores::Contact&& contact, bool& stop) {
    answer::atBoundary([&] {
      rows.push_back(rowOf(std::move(contact)));
      if (rows.size() >= contactCap) stop = true;
    });
  }));
  answer::emit(contactsResult(rows));
}

ContactRow rowOf(stores::Contact&& contact) {
  return ContactRow(std::move(contact.identifier),
                    displayName(contact.givenName.value_or(std::string()), contact.familyName.value_or(std::string())),
                    std::move(contact.phoneNumbers), std::move(contact.emailAddresses));
}

answer::ResultMap contactsResult(const std::vector<ContactRow>& rows) {
  answer::ResultMap result;
  const auto list = result.setMapList("contacts");
  for (const auto& row : rows) row.encode(result, result.appendMap(list));
  return result;
}

}  // namespace pimbridge::contacts
