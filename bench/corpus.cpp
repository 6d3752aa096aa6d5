// Rows for the benchmarks. Titles are mostly plain ASCII words, with accented
// Latin words, CJK words and emoji mixed in at rates a multilingual user's
// lists might show, and now and then a character the writer must escape.
#include "corpus.hpp"

#include <array>
#include <string_view>
#include <utility>

#include "contacts/contacts.hpp"
#include "reminders/reminders.hpp"

namespace pimbridge::bench {

namespace {

// splitmix64: tiny, and the same sequence on every platform and library,
// unlike the standard distributions.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::size_t below(std::size_t n) { return static_cast<std::size_t>((next() >> 11) % n); }
  bool percent(unsigned p) { return below(100) < p; }
  template <typename T, std::size_t N>
  const T& pick(const std::array<T, N>& from) {
    return from[below(N)];
  }

 private:
  std::uint64_t state_;
};

using Words = std::string_view;

constexpr std::array<Words, 48> asciiWords{
    "Buy",      "milk",      "Call",    "mom",    "about",   "the",         "report",   "Pick",    "up",     "dry",
    "cleaning", "Book",      "flights", "to",     "Berlin",  "Renew",       "passport", "Water",   "plants", "Send",
    "invoice",  "Q3",        "budget",  "review", "dentist", "appointment", "at",       "10am",    "gym",    "Pay",
    "rent",     "Fix",       "bike",    "tyre",   "for",     "Email",       "Sarah",    "draft",   "slides", "tickets",
    "order",    "groceries", "and",     "bread",  "eggs",    "meeting",     "notes",    "tomorrow"};
constexpr std::array<Words, 16> accentedWords{"Café",   "Zoë",   "naïve",  "Müller", "Straße",     "São",
                                              "Paulo",  "crème", "brûlée", "señora", "Ærøskøbing", "Łódź",
                                              "résumé", "über",  "Señal",  "fiancée"};
constexpr std::array<Words, 12> cjkWords{"買い物", "牛乳を買う", "会议",   "报告", "歯医者", "전화하기",
                                         "회의",   "予約",       "洗濯物", "周报", "打电话", "出張"};
constexpr std::array<Words, 10> emoji{"🎉", "🛒", "📞", "✈️", "🎂", "👍🏽", "❤️", "📅", "🏠", "💊"};

// Characters the writer escapes, placed as a real title would hold them.
constexpr std::array<Words, 6> escapedBits{"\"urgent\"", "C:\\Users\\me", "and/or", "Q3/Q4", "\t", "\nsecond line"};

std::string title(Random& random) {
  std::string out;
  const std::size_t words = 2 + random.below(6);
  for (std::size_t i = 0; i < words; ++i) {
    if (i > 0) out.push_back(' ');
    const std::size_t roll = random.below(100);
    if (roll < 75) {
      out.append(random.pick(asciiWords));
    } else if (roll < 87) {
      out.append(random.pick(accentedWords));
    } else if (roll < 95) {
      out.append(random.pick(cjkWords));
    } else {
      out.append(random.pick(emoji));
    }
  }
  if (random.percent(4)) {
    out.push_back(' ');
    out.append(random.pick(escapedBits));
  }
  return out;
}

std::string uuid(Random& random) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string out;
  for (int i = 0; i < 32; ++i) {
    if (i == 8 || i == 12 || i == 16 || i == 20) out.push_back('-');
    out.push_back(hex[random.below(16)]);
  }
  return out;
}

stores::Reminder reminder(Random& random) {
  stores::Reminder r;
  r.identifier = "x-apple-reminder://" + uuid(random);
  r.title = title(random);
  if (random.percent(60)) {
    // Between 2020 and 2027; some with a fraction of a second.
    double seconds = 1577836800.0 + static_cast<double>(random.below(7u * 365 * 86400));
    if (random.percent(10)) seconds += 0.25;
    r.due = stores::PointInTime(std::chrono::duration<double>(seconds));
  }
  r.completed = random.percent(30);
  return r;
}

constexpr std::array<Words, 8> listTitles{"Reminders", "Groceries", "Work",   "Family",
                                          "Einkäufe",  "家庭",      "Home 🏠", "Travel/Trips"};

}  // namespace

std::vector<ListFetch> reminderLists(std::size_t count, std::uint64_t seed) {
  Random random(seed);
  std::vector<ListFetch> lists;
  for (auto t : listTitles) lists.push_back(ListFetch{std::string(t), {}});
  for (std::size_t i = 0; i < count; ++i) {
    lists[i * lists.size() / count].reminders.push_back(reminder(random));
  }
  return lists;
}

std::vector<stores::Reminder> reminders(std::size_t count, std::uint64_t seed) {
  Random random(seed);
  std::vector<stores::Reminder> out;
  out.reserve(count);
  for (std::size_t i = 0; i < count; ++i) out.push_back(reminder(random));
  return out;
}

std::vector<stores::Contact> contacts(std::size_t count, std::uint64_t seed) {
  static constexpr std::array<Words, 12> given{"Ada",  "José",   "Grace", "Zoë",     "Björn", "李",
                                               "Yuki", "Amélie", "Omar",  "Siobhán", "",      "Chloé"};
  static constexpr std::array<Words, 12> family{"Lovelace", "Núñez",   "Hopper", "Müller",  "Østergaard", "小明",
                                                "Tanaka",   "Poulain", "",       "O'Brien", "Nakamura",   "Dubois"};
  Random random(seed);
  std::vector<stores::Contact> out;
  out.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    stores::Contact c;
    c.identifier = uuid(random) + ":ABPerson";
    if (!random.percent(5)) c.givenName = std::string(random.pick(given));
    if (!random.percent(10)) c.familyName = std::string(random.pick(family));
    const std::size_t phones = random.below(4);
    for (std::size_t p = 0; p < phones; ++p) {
      c.phoneNumbers.push_back("+1 (555) " + std::to_string(100 + random.below(900)) + "-" +
                               std::to_string(1000 + random.below(9000)));
    }
    const std::size_t emails = random.below(3);
    for (std::size_t e = 0; e < emails; ++e) {
      c.emailAddresses.push_back("person" + std::to_string(random.below(100000)) + "@example.com");
    }
    out.push_back(std::move(c));
  }
  return out;
}

answer::ResultMap remindersMap(std::vector<ListFetch> lists) {
  std::vector<std::vector<reminders::ReminderRow>> fetched;
  for (auto& list : lists) fetched.push_back(reminders::rowsOf(std::move(list.reminders), list.title));
  return reminders::remindersResult(fetched);
}

answer::ResultMap contactsMap(std::vector<stores::Contact> contacts) {
  std::vector<contacts::ContactRow> rows;
  rows.reserve(contacts.size());
  for (auto& c : contacts) rows.push_back(contacts::rowOf(std::move(c)));
  return contacts::contactsResult(rows);
}

}  // namespace pimbridge::bench
