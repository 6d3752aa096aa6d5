// The contact store on Linux desktops: EDS's default address book behind the
// tool's ContactStore. The enumeration reads the book's UIDs, then the cards
// a few at a time as the tool takes them, so that 500 contacts cost 500
// cards, however large the book is.
#include <libebook/libebook.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/eds/conversions.hpp"
#include "platform/eds/session.hpp"
#include "stores/contact_store.hpp"

namespace pimbridge::stores {
namespace {

using eds::GErrorRef;
using eds::GRef;

// How many cards are asked for at once.
constexpr std::size_t cardsAtOnce = 50;
// Every contact of a book.
constexpr const char* everyContact = "(contains \"x-evolution-any-field\" \"\")";

// The values of the card's attributes of one kind (TEL, EMAIL), in card
// order, each as stored: duplicates, empty values and blanks are kept.
std::vector<std::string> attributeValues(EContact* contact, std::string_view kind) {
  std::vector<std::string> values;
  for (GList* item = e_vcard_get_attributes(E_VCARD(contact)); item != nullptr; item = item->next) {
    auto* attribute = static_cast<EVCardAttribute*>(item->data);
    const gchar* name = e_vcard_attribute_get_name(attribute);
    if (name == nullptr || g_ascii_strcasecmp(name, std::string(kind).c_str()) != 0) continue;
    std::vector<std::string_view> parts;
    for (GList* value = e_vcard_attribute_get_values(attribute); value != nullptr; value = value->next) {
      parts.emplace_back(value->data != nullptr ? static_cast<const char*>(value->data) : "");
    }
    values.push_back(eds::joinedValues(parts));
  }
  return values;
}

std::optional<std::string> field(EContact* contact, EContactField which) {
  const auto* text = static_cast<const gchar*>(e_contact_get_const(contact, which));
  if (text == nullptr) return std::nullopt;
  return std::string(text);
}

Contact contactFrom(EContact* card) {
  Contact contact;
  contact.identifier = field(card, E_CONTACT_UID).value_or("");
  contact.givenName = field(card, E_CONTACT_GIVEN_NAME);
  contact.familyName = field(card, E_CONTACT_FAMILY_NAME);
  contact.phoneNumbers = attributeValues(card, "TEL");
  contact.emailAddresses = attributeValues(card, "EMAIL");
  return contact;
}

// The address book opened for one enumeration, shared by its steps on the
// GLib thread.
struct Book {
  EBookClient* client = nullptr;
  ~Book() {
    if (client != nullptr) g_object_unref(client);
  }
};

// What the steps of the enumeration bring back: the book's UIDs, and then
// batches of its cards in the UIDs' order, leaving out a card that went away
// since. Failed when EDS refused the step.
struct UidList {
  bool failed = false;
  std::vector<std::string> uids;
};
struct CardBatch {
  bool failed = false;
  std::vector<Contact> contacts;
};

struct UidsRead {
  std::shared_ptr<eds::Pending<UidList>> pending;
  std::shared_ptr<Book> book;
  GCancellable* cancellable;
};

void uidsRead(GObject*, GAsyncResult* result, gpointer data) {
  std::unique_ptr<UidsRead> read(static_cast<UidsRead*>(data));
  answer::atBoundary([&] {
    GSList* uids = nullptr;
    GError* error = nullptr;
    const bool ok = e_book_client_get_contacts_uids_finish(read->book->client, result, &uids, &error);
    GErrorRef failure(error);
    if (!ok) {
      read->pending->deliver(UidList{true, {}});
      return;
    }
    UidList all;
    for (GSList* item = uids; item != nullptr; item = item->next)
      all.uids.emplace_back(static_cast<const char*>(item->data));
    g_slist_free_full(uids, g_free);
    read->pending->deliver(std::move(all));
  });
}

void bookOpened(GObject*, GAsyncResult* result, gpointer data) {
  std::unique_ptr<UidsRead> read(static_cast<UidsRead*>(data));
  answer::atBoundary([&] {
    GError* error = nullptr;
    EClient* client = e_book_client_connect_finish(result, &error);
    GErrorRef failure(error);
    if (client == nullptr) {
      read->pending->deliver(UidList{true, {}});
      return;
    }
    read->book->client = E_BOOK_CLIENT(client);
    UidsRead* next = read.release();
    e_book_client_get_contacts_uids(next->book->client, everyContact, next->cancellable, uidsRead, next);
  });
}

// One batch of cards, asked for all at once and gathered in order.
struct Batch {
  std::shared_ptr<eds::Pending<CardBatch>> pending;
  std::shared_ptr<Book> book;
  std::vector<std::optional<Contact>> slots;  // in the UIDs' order, as the cards come in
  std::size_t outstanding = 0;
  bool failed = false;
};

struct CardRead {
  std::shared_ptr<Batch> batch;
  std::size_t index;
};

void cardRead(GObject*, GAsyncResult* result, gpointer data) {
  std::unique_ptr<CardRead> read(static_cast<CardRead*>(data));
  answer::atBoundary([&] {
    Batch& batch = *read->batch;
    EContact* card = nullptr;
    GError* error = nullptr;
    if (e_book_client_get_contact_finish(batch.book->client, result, &card, &error)) {
      GRef<EContact> owned(card);
      batch.slots[read->index] = contactFrom(card);
    } else if (!g_error_matches(error, E_BOOK_CLIENT_ERROR, E_BOOK_CLIENT_ERROR_CONTACT_NOT_FOUND)) {
      // A card removed since the UIDs were read is left out; anything else
      // fails the enumeration.
      batch.failed = true;
    }
    GErrorRef failure(error);
    if (--batch.outstanding > 0) return;
    CardBatch cards{batch.failed, {}};
    if (!batch.failed) {
      for (auto& slot : batch.slots) {
        if (slot) cards.contacts.push_back(std::move(*slot));
      }
    }
    batch.pending->deliver(std::move(cards));
  });
}

// The UID of the default address book; none when there is none.
std::optional<std::string> defaultBook() {
  const auto uid = eds::awaitGlib<std::optional<std::string>>(
      eds::Clock::now() + eds::registryWait,
      [](std::shared_ptr<eds::Pending<std::optional<std::string>>> pending, GCancellable*) {
        eds::withRegistry([pending](ESourceRegistry* registry) {
          // NOTE: without any address book, asking for the default one fails
          // inside the library; the built-in one is there whenever EDS is.
          GRef<ESource> builtin(registry != nullptr ? e_source_registry_ref_builtin_address_book(registry) : nullptr);
          GRef<ESource> book(builtin ? e_source_registry_ref_default_address_book(registry) : nullptr);
          const gchar* id = book ? e_source_get_uid(book.get()) : nullptr;
          pending->deliver(id != nullptr ? std::optional<std::string>(id) : std::nullopt);
        });
      });
  return uid.value_or(std::nullopt);
}

class EdsContactStore final : public ContactStore {
 public:
  // EDS has no prompt: the answer is whether the store is there.
  void requestAccess(AccessCompletion completion) override {
    completion(contactAccessState() == AccessState::authorized, false);
  }

  bool enumerateContacts(const ContactStep& step) override {
    const auto uid = defaultBook();
    if (!uid) return false;
    // One bound for the whole enumeration: opening the book, its UIDs and
    // every batch of cards.
    const auto deadline = eds::Clock::now() + eds::contactsWait;
    auto book = std::make_shared<Book>();

    const auto uids = eds::awaitGlib<UidList>(
        deadline, [uid = *uid, book](std::shared_ptr<eds::Pending<UidList>> pending, GCancellable* cancellable) {
          eds::withRegistry([uid, book, pending, cancellable](ESourceRegistry* registry) {
            GRef<ESource> source(registry != nullptr ? e_source_registry_ref_source(registry, uid.c_str()) : nullptr);
            if (!source) {
              pending->deliver(UidList{true, {}});
              return;
            }
            e_book_client_connect(source.get(), eds::noConnectWait, cancellable, bookOpened,
                                  new UidsRead{pending, book, cancellable});
          });
        });
    if (!uids || uids->failed) return false;

    const auto& all = uids->uids;
    for (std::size_t first = 0; first < all.size(); first += cardsAtOnce) {
      const std::vector<std::string> wanted(
          all.begin() + static_cast<std::ptrdiff_t>(first),
          all.begin() + static_cast<std::ptrdiff_t>(std::min(first + cardsAtOnce, all.size())));
      // The work gets its own copies: it may still run after the wait ends.
      auto cards = eds::awaitGlib<CardBatch>(
          deadline, [wanted, book](std::shared_ptr<eds::Pending<CardBatch>> pending, GCancellable* cancellable) {
            auto batch = std::make_shared<Batch>(Batch{pending, book, {}, wanted.size(), false});
            batch->slots.resize(wanted.size());
            for (std::size_t i = 0; i < wanted.size(); ++i) {
              e_book_client_get_contact(book->client, wanted[i].c_str(), cancellable, cardRead, new CardRead{batch, i});
            }
          });
      if (!cards || cards->failed) return false;
      for (auto& contact : cards->contacts) {
        bool stop = false;
        step(std::move(contact), stop);
        if (stop) return true;
      }
    }
    return true;
  }
};

}  // namespace

std::unique_ptr<ContactStore> makeContactStore() {
  return std::make_unique<EdsContactStore>();
}

AccessState contactAccessState() {
  return eds::storeState(eds::addressBookFactoryBusName);
}

}  // namespace pimbridge::stores
