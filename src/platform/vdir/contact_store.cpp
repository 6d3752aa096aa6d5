// The contact store on a vdir: the address book folder's .vcf files, in
// file-name order, read and parsed with EDS's vCard library (EVCard, which
// needs no D-Bus) on a thread of their own and handed over a few at a time
// as the tool takes them, within one bound for the whole read.
#include <libebook-contacts/libebook-contacts.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/vdir/conversions.hpp"
#include "platform/vdir/session.hpp"
#include "stores/contact_store.hpp"

namespace pimbridge::stores {

namespace {

// How many cards the reading thread reads ahead of the tool.
constexpr std::size_t cardsAhead = 32;

struct ObjectRelease {
  void operator()(gpointer object) const {
    if (object != nullptr) g_object_unref(object);
  }
};

// The values of the card's attributes of one kind (TEL, EMAIL), in card
// order, each as stored: duplicates, empty values and blanks are kept.
std::vector<std::string> attributeValues(EVCard* card, const char* kind) {
  std::vector<std::string> values;
  for (GList* item = e_vcard_get_attributes(card); item != nullptr; item = item->next) {
    auto* attribute = static_cast<EVCardAttribute*>(item->data);
    const gchar* name = e_vcard_attribute_get_name(attribute);
    if (name == nullptr || g_ascii_strcasecmp(name, kind) != 0) continue;
    std::vector<std::string_view> parts;
    for (GList* value = e_vcard_attribute_get_values(attribute); value != nullptr; value = value->next) {
      parts.emplace_back(value->data != nullptr ? static_cast<const char*>(value->data) : "");
    }
    values.push_back(vdir::joinedValues(parts));
  }
  return values;
}

// One component of the card's N (family;given;additional;prefixes;suffixes);
// none when the card has no N or N has no such component.
std::optional<std::string> nameComponent(EVCard* card, std::size_t index) {
  EVCardAttribute* name = e_vcard_get_attribute(card, EVC_N);
  if (name == nullptr) return std::nullopt;
  GList* value = g_list_nth(e_vcard_attribute_get_values(name), static_cast<guint>(index));
  if (value == nullptr || value->data == nullptr) return std::nullopt;
  return std::string(static_cast<const char*>(value->data));
}

// The contact one .vcf file holds; none when it is not one clean card.
std::optional<Contact> contactIn(const std::string& path, const std::string& name) {
  const auto text = vdir::readItemFile(path);
  if (!text || !vdir::isCleanItemText(*text) || vdir::cardsOpened(*text) != 1) return std::nullopt;
  static_cast<void>(vdir::warnedSinceLastAsked());
  std::unique_ptr<EVCard, ObjectRelease> card(e_vcard_new_from_string(text->c_str()));
  // NOTE: EVCard makes a card of anything, warning of what it could not
  // read (a card that does not end, a name it cannot take); a text that it
  // warned of, or that gave it no attribute at all, was no card.
  // The card is parsed when first asked for its attributes.
  const bool empty = !card || e_vcard_get_attributes(card.get()) == nullptr;
  if (vdir::warnedSinceLastAsked() || empty) return std::nullopt;
  Contact contact;
  EVCardAttribute* uid = e_vcard_get_attribute(card.get(), EVC_UID);
  GList* uidValue = uid != nullptr ? e_vcard_attribute_get_values(uid) : nullptr;
  const char* uidText = uidValue != nullptr ? static_cast<const char*>(uidValue->data) : nullptr;
  contact.identifier = uidText != nullptr && *uidText != '\0' ? std::string(uidText) : vdir::fileStem(name);
  contact.familyName = nameComponent(card.get(), 0);
  contact.givenName = nameComponent(card.get(), 1);
  contact.phoneNumbers = attributeValues(card.get(), EVC_TEL);
  contact.emailAddresses = attributeValues(card.get(), EVC_EMAIL);
  // The file name of a card without UID is the one text not checked yet.
  if (!vdir::isCleanText(contact.identifier)) return std::nullopt;
  return contact;
}

class VdirContactStore final : public ContactStore {
 public:
  // There is no prompt: the answer is whether the folder can be read.
  void requestAccess(AccessCompletion completion) override {
    completion(contactAccessState() == AccessState::authorized, false);
  }

  bool enumerateContacts(const ContactStep& step) override {
    const auto deadline = vdir::Clock::now() + vdir::contactsWait;
    auto handover = std::make_shared<vdir::Handover<Contact>>(cardsAhead);
    std::thread([handover] {
      answer::atBoundary([&] {
        const auto& book = vdir::located().contacts;
        if (!book) {
          handover->end(false);
          return;
        }
        const auto names = vdir::sortedNames(
            *book, [](const std::string& name) { return vdir::isItemName(name, ".vcf"); },
            [&handover] { return handover->stopped(); });
        if (!names) {
          handover->end(false);
          return;
        }
        for (const auto& name : *names) {
          auto contact = contactIn(*book + "/" + name, name);
          if (contact && !handover->put(std::move(*contact))) return;
          if (handover->stopped()) return;
        }
        handover->end(true);
      });
    }).detach();

    for (std::vector<Contact> batch;;) {
      switch (handover->take(deadline, batch)) {
        case vdir::Handover<Contact>::Took::items:
          for (auto& contact : batch) {
            bool stop = false;
            step(std::move(contact), stop);
            if (stop) {
              handover->stop();
              return true;
            }
          }
          batch.clear();
          break;
        case vdir::Handover<Contact>::Took::ended:
          return true;
        case vdir::Handover<Contact>::Took::failed:
          return false;
        case vdir::Handover<Contact>::Took::late:
          // The reading thread may be held by the file system; it is left
          // to it, and what it hands over from now on is dropped.
          handover->stop();
          return false;
      }
    }
  }
};

}  // namespace

std::unique_ptr<ContactStore> makeContactStore() {
  return std::make_unique<VdirContactStore>();
}

AccessState contactAccessState() {
  const auto state = vdir::withinDeadline<AccessState>(vdir::Clock::now() + vdir::stateWait, [] {
    const auto& where = vdir::located();
    std::vector<std::string> folders;
    if (where.contacts) folders.push_back(*where.contacts);
    return vdir::foldersState(folders, where.configFailed);
  });
  return state.value_or(AccessState::unknown);
}

}  // namespace pimbridge::stores
