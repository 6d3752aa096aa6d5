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

constexpr guint32 noConnectWait = static_cast<guint32>(-1);
// How many cards are asked for at once.
constexpr std::size_t cardsAtOnce = 50;
// Every contact of a book.
constexpr const char* everyContact = "(contains \"x-evolution-any-field\" \"\")";

class EdsContactPredicate final : public ContactPredicate {
 public:
  explicit EdsContactPredicate(std::string uid) : uid(std::move(uid)) {}
  std::string uid;
};

bool asked(const ContactFetchRequest& request, ContactKey key) {
  return std::find(request.keysToFetch.begin(), request.keysToFetch.end(), key) != request.keysToFetch.end();
}

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

Contact contactFrom(EContact* card, const ContactFetchRequest& request) {
  Contact contact;
  if (asked(request, ContactKey::identifier)) contact.identifier = field(card, E_CONTACT_UID).value_or("");
  if (asked(request, ContactKey::givenName)) contact.givenName = field(card, E_CONTACT_GIVEN_NAME);
  if (asked(request, ContactKey::familyName)) contact.familyName = field(card, E_CONTACT_FAMILY_NAME);
  if (asked(request, ContactKey::phoneNumbers)) contact.phoneNumbers = attributeValues(card, "TEL");
  if (asked(request, ContactKey::emailAddresses)) contact.emailAddresses = attributeValues(card, "EMAIL");
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

// What one step of the enumeration brings back: the UIDs, or a batch of
// cards in the UIDs' order (none where a card went away since), or a failure.
template <typename T>
using Step = std::optional<T>;

struct UidsRead {
  std::shared_ptr<eds::Pending<Step<std::vector<std::string>>>> pending;
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
      read->pending->deliver(std::nullopt);
      return;
    }
    std::vector<std::string> all;
    for (GSList* item = uids; item != nullptr; item = item->next)
      all.emplace_back(static_cast<const char*>(item->data));
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
      read->pending->deliver(std::nullopt);
      return;
    }
    read->book->client = E_BOOK_CLIENT(client);
    UidsRead* next = read.release();
    e_book_client_get_contacts_uids(next->book->client, everyContact, next->cancellable, uidsRead, next);
  });
}

// One batch of cards, asked for all at once and gathered in order.
struct Batch {
  std::shared_ptr<eds::Pending<Step<std::vector<std::optional<Contact>>>>> pending;
  std::shared_ptr<Book> book;
  ContactFetchRequest request;  // a copy: a late card may arrive after the tool has moved on
  std::vector<std::optional<Contact>> contacts;
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
      batch.contacts[read->index] = contactFrom(card, batch.request);
    } else if (!g_error_matches(error, E_BOOK_CLIENT_ERROR, E_BOOK_CLIENT_ERROR_CONTACT_NOT_FOUND)) {
      // A card removed since the UIDs were read is left out; anything else
      // fails the enumeration.
      batch.failed = true;
    }
    GErrorRef failure(error);
    if (--batch.outstanding > 0) return;
    if (batch.failed) {
      batch.pending->deliver(std::nullopt);
    } else {
      batch.pending->deliver(std::move(batch.contacts));
    }
  });
}

class EdsContactStore final : public ContactStore {
 public:
  // EDS has no prompt: the answer is whether the store is there.
  void requestAccess(ContactEntityType type, AccessCompletion completion) override {
    completion(contactAuthorizationStatus(type) == eds::stateAuthorized, false);
  }

  std::optional<std::string> defaultContainerIdentifier() override {
    const auto uid = eds::awaitGlib<std::optional<std::string>>(
        eds::Clock::now() + eds::registryWait,
        [](std::shared_ptr<eds::Pending<std::optional<std::string>>> pending, GCancellable*) {
          eds::withRegistry([pending](ESourceRegistry* registry) {
            // NOTE: without any address book, asking for the default one
            // fails inside the library; the built-in one is there whenever
            // EDS is.
            GRef<ESource> builtin(registry != nullptr ? e_source_registry_ref_builtin_address_book(registry) : nullptr);
            GRef<ESource> book(builtin ? e_source_registry_ref_default_address_book(registry) : nullptr);
            const gchar* id = book ? e_source_get_uid(book.get()) : nullptr;
            pending->deliver(id != nullptr ? std::optional<std::string>(id) : std::nullopt);
          });
        });
    return uid.value_or(std::nullopt);
  }

  bool enumerateContacts(const ContactFetchRequest& request, const ContactStep& step) override {
    const auto* predicate = dynamic_cast<const EdsContactPredicate*>(request.predicate.get());
    if (predicate == nullptr) return false;
    // One bound for the whole enumeration: opening the book, its UIDs and
    // every batch of cards.
    const auto deadline = eds::Clock::now() + eds::contactsWait;
    auto book = std::make_shared<Book>();

    const std::string uid = predicate->uid;
    const auto uids = eds::awaitGlib<Step<std::vector<std::string>>>(
        deadline,
        [uid, book](std::shared_ptr<eds::Pending<Step<std::vector<std::string>>>> pending, GCancellable* cancellable) {
          eds::withRegistry([uid, book, pending, cancellable](ESourceRegistry* registry) {
            GRef<ESource> source(registry != nullptr ? e_source_registry_ref_source(registry, uid.c_str()) : nullptr);
            if (!source) {
              pending->deliver(std::nullopt);
              return;
            }
            e_book_client_connect(source.get(), noConnectWait, cancellable, bookOpened,
                                  new UidsRead{pending, book, cancellable});
          });
        });
    if (!uids || !*uids) return false;

    for (std::size_t first = 0; first < (*uids)->size(); first += cardsAtOnce) {
      const std::vector<std::string> wanted(
          (*uids)->begin() + static_cast<std::ptrdiff_t>(first),
          (*uids)->begin() + static_cast<std::ptrdiff_t>(std::min(first + cardsAtOnce, (*uids)->size())));
      // The work gets its own copies: it may still run after the wait ends.
      auto cards = eds::awaitGlib<Step<std::vector<std::optional<Contact>>>>(
          deadline, [wanted, request = ContactFetchRequest(request), book](
                        std::shared_ptr<eds::Pending<Step<std::vector<std::optional<Contact>>>>> pending,
                        GCancellable* cancellable) {
            auto batch = std::make_shared<Batch>(Batch{pending, book, request, {}, wanted.size(), false});
            batch->contacts.resize(wanted.size());
            for (std::size_t i = 0; i < wanted.size(); ++i) {
              e_book_client_get_contact(book->client, wanted[i].c_str(), cancellable, cardRead, new CardRead{batch, i});
            }
          });
      if (!cards || !*cards) return false;
      for (auto& card : **cards) {
        if (!card) continue;
        bool stop = false;
        step(std::move(*card), stop);
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

RawStatus contactAuthorizationStatus(ContactEntityType) {
  return eds::storeState(eds::addressBookFactoryBusName);
}

std::unique_ptr<ContactPredicate> predicateForContactsInContainer(const std::string& containerIdentifier) {
  return std::make_unique<EdsContactPredicate>(containerIdentifier);
}

}  // namespace pimbridge::stores
