// Fuzzes the whole tool from the outside: the input bytes are decoded into a
// small world for the simulated platform and an argument vector, the built
// pimbridge runs on them, and what it prints is held against what the world
// and the arguments call for.
//
// NOTE: every path of the tool ends its process with _exit (the answer of an
// access request even ends it from a platform thread), so the tool cannot be
// called in-process; each input costs one run of the real binary. Coverage
// feedback therefore comes from this file's decoding and checking only, and
// faults inside the tool show up through its exit status, its output and, in
// a sanitizer build, the report on its standard error.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fuzzer/FuzzedDataProvider.h>
#include <nlohmann/json.hpp>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "e2e/child_output.hpp"
#include "utf8_reference.hpp"

extern char** environ;

namespace {

using nlohmann::json;

// Worlds are small and answer quickly (no fetch or request that never
// answers, waits of at most 50 ms), so a run that lasts this long hangs.
constexpr auto runLimit = std::chrono::seconds(20);

// ---- The world ----------------------------------------------------------------

struct AccessRequest {
  bool granted = false;
  bool error = false;
  std::int64_t afterMs = 0;
  std::optional<std::int64_t> statusAfter;
};

struct Reminder {
  std::string id, title;
  bool completed = false;
  json due;  // absent (discarded), null, or an object of components
};

struct List {
  std::string id, title;
  bool fetchAbsent = false;  // the completion gets no list of reminders
  std::int64_t afterMs = 0;
  std::vector<Reminder> reminders;
  std::int64_t generate = 0;
};

struct Contact {
  std::string id;
  std::optional<std::string> container;  // absent: the default container
  json given, family;                    // absent (discarded), null or a text
  std::vector<std::string> phones, emails;
};

struct World {
  std::optional<std::string> osVersion;
  std::optional<std::int64_t> reminderStatus, contactStatus;
  AccessRequest reminderRequest, contactRequest;
  std::vector<List> lists;
  json defaultContainer = json(json::value_t::discarded);  // absent (discarded), null or a text
  std::vector<Contact> contacts;
  std::int64_t generateContacts = 0;
  std::optional<std::int64_t> failAfter;
  // How each text is written into the world file, decided once per world.
  bool hexTexts = false;
};

bool validUtf8(std::string_view s) {
  return pimbridge::fuzz::referenceValid(s);
}

// The identifier of the container whose contacts are exported.
std::string exportedContainer(const World& w) {
  if (w.defaultContainer.is_discarded()) return "default";
  return w.defaultContainer.is_string() ? w.defaultContainer.get<std::string>() : "";
}

// A text of the world file: a JSON string when its bytes allow, otherwise
// (and sometimes anyway) the {"hex": …} form.
json worldText(const std::string& bytes, bool preferHex) {
  if (!preferHex && validUtf8(bytes)) return bytes;
  static constexpr char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += digits[c >> 4];
    hex += digits[c & 0xF];
  }
  return json{{"hex", hex}};
}

json worldTextOrNull(const json& value, bool preferHex) {
  return value.is_string() ? worldText(value.get<std::string>(), preferHex) : value;
}

json accessJson(const AccessRequest& r) {
  json j{{"granted", r.granted}, {"error", r.error}, {"after_ms", r.afterMs}};
  if (r.statusAfter) j["status_after"] = *r.statusAfter;
  return j;
}

json worldJson(const World& w) {
  json root = json::object();
  if (w.osVersion) root["os_version"] = *w.osVersion;
  json reminders{{"request", accessJson(w.reminderRequest)}, {"lists", json::array()}};
  if (w.reminderStatus) reminders["status"] = *w.reminderStatus;
  for (const auto& l : w.lists) {
    json list{{"id", worldText(l.id, w.hexTexts)},
              {"title", worldText(l.title, w.hexTexts)},
              {"fetch", l.fetchAbsent ? "absent" : "normal"},
              {"after_ms", l.afterMs},
              {"generate", l.generate}};
    list["reminders"] = json::array();
    for (const auto& r : l.reminders) {
      json reminder{
          {"id", worldText(r.id, w.hexTexts)}, {"title", worldText(r.title, w.hexTexts)}, {"completed", r.completed}};
      if (!r.due.is_discarded()) reminder["due"] = r.due;
      list["reminders"].push_back(reminder);
    }
    reminders["lists"].push_back(list);
  }
  root["reminders"] = reminders;

  json contacts{
      {"request", accessJson(w.contactRequest)}, {"contacts", json::array()}, {"generate", w.generateContacts}};
  if (w.contactStatus) contacts["status"] = *w.contactStatus;
  if (!w.defaultContainer.is_discarded())
    contacts["default_container"] = worldTextOrNull(w.defaultContainer, w.hexTexts);
  if (w.failAfter) contacts["fail_after"] = *w.failAfter;
  for (const auto& c : w.contacts) {
    json contact{{"id", worldText(c.id, w.hexTexts)}, {"phones", json::array()}, {"emails", json::array()}};
    if (c.container) contact["container"] = worldText(*c.container, w.hexTexts);
    if (!c.given.is_discarded()) contact["given"] = worldTextOrNull(c.given, w.hexTexts);
    if (!c.family.is_discarded()) contact["family"] = worldTextOrNull(c.family, w.hexTexts);
    for (const auto& p : c.phones) contact["phones"].push_back(worldText(p, w.hexTexts));
    for (const auto& e : c.emails) contact["emails"].push_back(worldText(e, w.hexTexts));
    contacts["contacts"].push_back(contact);
  }
  root["contacts"] = contacts;
  return root;
}

// ---- Decoding the input -------------------------------------------------------

constexpr std::array<std::string_view, 6> commandWords{"authorization", "reminder-lists",    "reminders",
                                                       "contacts",      "request-reminders", "request-contacts"};

std::string makeText(FuzzedDataProvider& in) {
  static const std::array<std::string, 4> multibyte{"\xC3\xA9", "\xE2\x80\xA8", "\xEF\xBB\xBF", "\xF4\x8F\xBF\xBF"};
  static const std::array<std::string, 10> pool{"A",
                                                "B",
                                                "",
                                                "Home",
                                                "work/projects",
                                                "Caf\xC3\xA9 with Zo\xC3\xAB",
                                                "say \"hi\"",
                                                "C:\\dir",
                                                "tab\there",
                                                "\xF0\x9F\x98\x80"};
  // The cases run from the plainest up, so that an input cut short (whose
  // missing bytes read as zero) still makes ordinary texts.
  const int kind = in.ConsumeIntegralInRange<int>(0, 31);
  if (kind < 23) return pool[in.ConsumeIntegralInRange<std::size_t>(0, pool.size() - 1)];
  if (kind == 31) {
    // Any bytes at all, often not UTF-8: the answer then cannot be encoded.
    return in.ConsumeBytesAsString(in.ConsumeIntegralInRange<std::size_t>(1, 6));
  }
  std::string s;
  const auto pieces = in.ConsumeIntegralInRange<std::size_t>(0, 8);
  for (std::size_t i = 0; i < pieces; ++i) {
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
      case 0:
        s += static_cast<char>(in.ConsumeIntegralInRange<int>(0x20, 0x7E));
        break;
      case 1:
        s += static_cast<char>(in.ConsumeIntegralInRange<int>(0x01, 0x1F));
        break;
      case 2:
        s += std::string_view("/\"\\")[in.ConsumeIntegralInRange<std::size_t>(0, 2)];
        break;
      case 3:
        s += multibyte[in.ConsumeIntegralInRange<std::size_t>(0, multibyte.size() - 1)];
        break;
    }
  }
  return s;
}

// Identifiers of lists and containers appear in trace lines, so they hold no
// line breaks.
std::string makeIdentifier(FuzzedDataProvider& in) {
  std::string s = makeText(in);
  for (char& c : s) {
    if (c == '\n' || c == '\r') c = '_';
  }
  return s;
}

// A raw authorization state from one byte: mostly authorized (3), often
// another known state, sometimes unknown or absent (which reads as 0).
std::optional<std::int64_t> makeStatus(FuzzedDataProvider& in) {
  const auto pick = in.ConsumeIntegral<std::uint8_t>() % 16;
  if (pick <= 6) return 3;
  if (pick <= 11) return pick - 7;
  switch (pick) {
    case 12:
      return std::nullopt;
    case 13:
      return in.ConsumeBool() ? -1 : 5;
    case 14:
      return std::array<std::int64_t, 3>{std::numeric_limits<std::int64_t>::min(),
                                         std::numeric_limits<std::int64_t>::max(),
                                         0x100000003}[in.ConsumeIntegralInRange<std::size_t>(0, 2)];
    default:
      return in.ConsumeIntegral<std::int64_t>();
  }
}

AccessRequest makeRequest(FuzzedDataProvider& in) {
  AccessRequest r;
  r.granted = in.ConsumeBool();
  r.error = in.ConsumeBool();
  r.afterMs = in.ConsumeIntegralInRange<int>(0, 3) == 0 ? in.ConsumeIntegralInRange<std::int64_t>(0, 50) : 0;
  if (in.ConsumeBool()) r.statusAfter = makeStatus(in);
  return r;
}

// One due-date component: mostly in its range, sometimes just outside it,
// rarely anything.
std::int64_t makeComponent(FuzzedDataProvider& in, std::int64_t low, std::int64_t high) {
  switch (in.ConsumeIntegralInRange<int>(0, 15)) {
    case 0:
      return low - 1;
    case 1:
      return high + 1;
    case 2:
      return low;
    case 3:
      return high;
    case 4:
      return in.ConsumeIntegral<std::int64_t>();
    default:
      return in.ConsumeIntegralInRange<std::int64_t>(low, high);
  }
}

json makeDue(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
      return json(json::value_t::discarded);
    case 1:
      return nullptr;
    default:
      break;
  }
  json due = json::object();
  // Year, month and day are present most of the time, the rest half of it.
  const auto maybe = [&](const char* key, std::int64_t low, std::int64_t high, int presentOutOf8) {
    if (in.ConsumeIntegralInRange<int>(0, 7) < presentOutOf8) due[key] = makeComponent(in, low, high);
  };
  if (in.ConsumeIntegralInRange<int>(0, 7) < 7) {
    // Years near the ends of 0001 to 9999 as well as ordinary ones.
    static constexpr std::array<std::int64_t, 8> years{2024, 1970, 2000, 1, 9999, 0, 10000, -4};
    due["year"] = in.ConsumeBool() ? years[in.ConsumeIntegralInRange<std::size_t>(0, years.size() - 1)]
                                   : makeComponent(in, 1, 9999);
  }
  maybe("month", 1, 12, 7);
  maybe("day", 1, 31, 7);
  maybe("hour", 0, 23, 4);
  maybe("minute", 0, 59, 4);
  maybe("second", 0, 59, 4);
  maybe("utc_offset_minutes", -1080, 1080, 4);
  return due;
}

json makeOptionalText(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
      return json(json::value_t::discarded);
    case 1:
      return nullptr;
    default:
      return makeText(in);
  }
}

// The rest of the world, after its two states.
void makeWorld(FuzzedDataProvider& in, World& w) {
  static constexpr std::array<std::string_view, 6> versions{"13.6.1", "14.0.0",   "12.7.9",
                                                            "15.2.0", "13.99.99", "100.0.0"};
  if (in.ConsumeBool()) w.osVersion = versions[in.ConsumeIntegralInRange<std::size_t>(0, versions.size() - 1)];
  w.reminderRequest = makeRequest(in);
  w.contactRequest = makeRequest(in);
  w.hexTexts = in.ConsumeIntegralInRange<int>(0, 7) == 0;

  const auto listCount = in.ConsumeIntegralInRange<std::size_t>(0, 5);
  std::int64_t reminderCount = 0;  // in the lists so far
  for (std::size_t i = 0; i < listCount; ++i) {
    List l;
    l.id = makeIdentifier(in);
    l.title = makeText(in);
    l.fetchAbsent = in.ConsumeIntegralInRange<int>(0, 7) == 0;
    l.afterMs = in.ConsumeIntegralInRange<int>(0, 3) == 0 ? in.ConsumeIntegralInRange<std::int64_t>(0, 50) : 0;
    const auto count = in.ConsumeIntegralInRange<std::size_t>(0, 4);
    for (std::size_t k = 0; k < count; ++k) {
      Reminder r;
      r.id = makeText(in);
      r.title = makeText(in);
      r.completed = in.ConsumeBool();
      r.due = makeDue(in);
      l.reminders.push_back(std::move(r));
    }
    reminderCount += static_cast<std::int64_t>(l.reminders.size());
    // Now and then enough generated reminders to bring the lists so far to
    // the row threshold of 1000, just short of it or just past it.
    switch (in.ConsumeIntegralInRange<int>(0, 15)) {
      case 14:
      case 15:
        l.generate = std::max<std::int64_t>(0, 1000 - reminderCount + in.ConsumeIntegralInRange<std::int64_t>(-1, 1));
        break;
      case 1:
      case 2:
      case 3:
        l.generate = in.ConsumeIntegralInRange<std::int64_t>(1, 30);
        break;
      default:
        break;
    }
    reminderCount += l.generate;
    w.lists.push_back(std::move(l));
  }

  const auto pickContainer = in.ConsumeIntegralInRange<int>(0, 5);
  if (pickContainer == 1) w.defaultContainer = nullptr;
  if (pickContainer == 2) w.defaultContainer = "";
  if (pickContainer >= 3) w.defaultContainer = makeIdentifier(in);
  const auto contactCount = in.ConsumeIntegralInRange<std::size_t>(0, 5);
  for (std::size_t i = 0; i < contactCount; ++i) {
    Contact c;
    c.id = makeText(in);
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
      case 0:
        c.container = makeIdentifier(in);
        break;
      case 1:
        c.container = w.defaultContainer.is_string() ? w.defaultContainer.get<std::string>() : "default";
        break;
      default:
        break;
    }
    c.given = makeOptionalText(in);
    c.family = makeOptionalText(in);
    const auto phones = in.ConsumeIntegralInRange<std::size_t>(0, 3);
    for (std::size_t k = 0; k < phones; ++k) c.phones.push_back(makeText(in));
    const auto emails = in.ConsumeIntegralInRange<std::size_t>(0, 3);
    for (std::size_t k = 0; k < emails; ++k) c.emails.push_back(makeText(in));
    w.contacts.push_back(std::move(c));
  }
  // Now and then as many generated contacts as bring the export to its cap
  // of 500, just short of it or just past it.
  switch (in.ConsumeIntegralInRange<int>(0, 15)) {
    case 0: {
      const std::string container = exportedContainer(w);
      std::int64_t exported = 0;
      for (const auto& c : w.contacts) exported += c.container.value_or(container) == container ? 1 : 0;
      w.generateContacts = 500 - exported + in.ConsumeIntegralInRange<std::int64_t>(-1, 1);
      break;
    }
    case 1:
    case 2:
    case 3:
      w.generateContacts = in.ConsumeIntegralInRange<std::int64_t>(1, 20);
      break;
    default:
      break;
  }
  if (in.ConsumeIntegralInRange<int>(0, 3) == 0) w.failAfter = in.ConsumeIntegralInRange<std::int64_t>(0, 8);
}

// A word one edit away from a command word: the tool matches words exactly.
std::string nearMiss(FuzzedDataProvider& in) {
  std::string s(commandWords[in.ConsumeIntegralInRange<std::size_t>(0, commandWords.size() - 1)]);
  const auto at = in.ConsumeIntegralInRange<std::size_t>(0, s.size() - 1);
  switch (in.ConsumeIntegralInRange<int>(0, 5)) {
    case 0:
      s[at] = static_cast<char>(s[at] - 'a' + 'A');  // upper case; '-' becomes some other byte
      break;
    case 1:
      s.erase(at, 1);
      break;
    case 2:
      s.insert(at, 1, static_cast<char>(in.ConsumeIntegralInRange<int>(1, 255)));
      break;
    case 3:
      s += static_cast<char>(in.ConsumeIntegralInRange<int>(1, 255));
      break;
    case 4:
      s = "--" + s;
      break;
    case 5:
      s.pop_back();
      break;
  }
  return s;
}

// An argument, decided before the world is: either its text, or which of the
// world's lists it names (taken modulo their number once they are known).
struct PlannedArgument {
  std::string text;
  std::optional<std::size_t> list;
};

PlannedArgument makeArgument(FuzzedDataProvider& in, bool first) {
  switch (in.ConsumeIntegralInRange<int>(0, 15)) {
    case 8:
    case 9:
    case 10:
    case 11:
      if (!first) return {"", in.ConsumeIntegral<std::uint8_t>()};
      break;
    case 12:
      return {nearMiss(in), std::nullopt};
    case 13:
      return {"", std::nullopt};
    case 14:
      // Huge, yet within what the kernel passes in one argument (128 KiB).
      return {std::string(in.ConsumeIntegralInRange<std::size_t>(1000, 100000),
                          static_cast<char>(in.ConsumeIntegralInRange<int>(1, 255))),
              std::nullopt};
    case 15:
      return {makeText(in), std::nullopt};
    default:
      break;
  }
  return {std::string(commandWords[in.ConsumeIntegralInRange<std::size_t>(0, commandWords.size() - 1)]), std::nullopt};
}

// The arguments are decoded before the world, so that even a short input runs
// a command rather than the default one.
std::vector<PlannedArgument> planArguments(FuzzedDataProvider& in) {
  std::vector<PlannedArgument> plan;
  // From none to five; one when the input is cut short.
  const auto count = (in.ConsumeIntegralInRange<std::size_t>(0, 5) + 1) % 6;
  for (std::size_t i = 0; i < count; ++i) plan.push_back(makeArgument(in, i == 0));
  return plan;
}

std::vector<std::string> makeArguments(const std::vector<PlannedArgument>& plan, const World& w) {
  std::vector<std::string> args;
  for (const auto& p : plan) {
    std::string arg = p.list && !w.lists.empty() ? w.lists[*p.list % w.lists.size()].id : p.text;
    // An argument ends at its first NUL byte, as the tool receives it.
    arg.resize(std::strlen(arg.c_str()));
    args.push_back(std::move(arg));
  }
  return args;
}

// ---- What the world and the arguments call for ---------------------------------

std::string reminderWord(std::int64_t raw) {
  static constexpr std::array<const char*, 5> words{"not_determined", "restricted", "denied", "authorized",
                                                    "write_only"};
  return raw >= 0 && raw <= 4 ? words[static_cast<std::size_t>(raw)] : "unknown";
}

std::string contactsWord(std::int64_t raw) {
  return raw == 4 ? "limited" : reminderWord(raw);
}

bool leapYear(std::int64_t y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

std::int64_t daysInMonth(std::int64_t y, std::int64_t m) {
  static constexpr std::array<std::int64_t, 12> days{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return days[static_cast<std::size_t>(m - 1)] + (m == 2 && leapYear(y) ? 1 : 0);
}

// The "due" of a reminder, worked out by moving the local date and time by
// its offset, a day at most, rather than through a day count.
json expectedDue(const json& due) {
  if (!due.is_object()) return nullptr;
  const auto get = [&](const char* key) -> std::optional<std::int64_t> {
    if (!due.contains(key)) return std::nullopt;
    return due[key].get<std::int64_t>();
  };
  const auto year = get("year"), month = get("month"), day = get("day");
  if (!year || !month || !day) return nullptr;
  const std::int64_t hour = get("hour").value_or(0), minute = get("minute").value_or(0),
                     second = get("second").value_or(0), offset = get("utc_offset_minutes").value_or(0);
  std::int64_t y = *year, m = *month, d = *day;
  // Beyond these years the answer is null however the date is judged.
  if (y < -100000 || y > 100000) return nullptr;
  if (m < 1 || m > 12 || d < 1 || d > daysInMonth(y, m)) return nullptr;
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) return nullptr;
  if (offset < -1080 || offset > 1080) return nullptr;

  std::int64_t minutes = hour * 60 + minute - offset;  // from -1080 to 2519
  if (minutes < 0) {
    minutes += 1440;
    if (--d == 0) {
      if (--m == 0) {
        m = 12;
        --y;
      }
      d = daysInMonth(y, m);
    }
  } else if (minutes >= 1440) {
    minutes -= 1440;
    if (++d > daysInMonth(y, m)) {
      d = 1;
      if (++m == 13) {
        m = 1;
        ++y;
      }
    }
  }
  if (y < 1 || y > 9999) return nullptr;
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", static_cast<int>(y), static_cast<int>(m),
                static_cast<int>(d), static_cast<int>(minutes / 60), static_cast<int>(minutes % 60),
                static_cast<int>(second));
  return text;
}

json remindersAnswer(const World& w, const std::vector<std::string>& args) {
  const std::set<std::string> filter(args.begin() + 1, args.end());
  json rows = json::array();
  for (const auto& l : w.lists) {
    if (!filter.empty() && !filter.contains(l.id)) continue;
    if (!l.fetchAbsent) {
      for (const auto& r : l.reminders) {
        rows.push_back({{"id", r.id},
                        {"title", r.title},
                        {"list", l.title},
                        {"due", expectedDue(r.due)},
                        {"completed", r.completed}});
      }
      for (std::int64_t k = 1; k <= l.generate; ++k) {
        rows.push_back({{"id", l.id + "-" + std::to_string(k)},
                        {"title", "Reminder " + std::to_string(k)},
                        {"list", l.title},
                        {"due", nullptr},
                        {"completed", false}});
      }
    }
    // Once 1000 rows are in, no further list is fetched.
    if (rows.size() >= 1000) break;
  }
  return {{"reminders", rows}};
}

json contactsAnswer(const World& w) {
  const std::string container = exportedContainer(w);
  std::size_t limit = 500;
  if (w.failAfter) limit = std::min<std::size_t>(limit, static_cast<std::size_t>(*w.failAfter));
  json rows = json::array();
  for (const auto& c : w.contacts) {
    if (c.container.value_or(container) != container) continue;
    if (rows.size() >= limit) break;
    const std::string given = c.given.is_string() ? c.given.get<std::string>() : "";
    const std::string family = c.family.is_string() ? c.family.get<std::string>() : "";
    const std::string name = given.empty() ? family : family.empty() ? given : given + " " + family;
    rows.push_back({{"id", c.id}, {"name", name}, {"phones", c.phones}, {"emails", c.emails}});
  }
  for (std::int64_t k = 1; k <= w.generateContacts && rows.size() < limit; ++k) {
    const std::string n = std::to_string(k);
    rows.push_back({{"id", "contact-" + n},
                    {"name", "Given" + n + " Family" + n},
                    {"phones", json::array({"+1 555 " + n})},
                    {"emails", json::array({"contact" + n + "@example.com"})}});
  }
  return {{"contacts", rows}};
}

struct Expected {
  int status = 0;
  json answer;  // discarded: nothing on standard output
  bool encodingFailure = false;
};

bool allTextsValid(const json& j) {
  if (j.is_string()) return validUtf8(j.get_ref<const std::string&>());
  if (j.is_array() || j.is_object()) {
    for (const auto& [key, value] : j.items()) {
      if (!validUtf8(key) || !allTextsValid(value)) return false;
    }
  }
  return true;
}

Expected expected(const World& w, const std::vector<std::string>& args) {
  const std::string command = args.empty() ? "authorization" : args.front();
  const std::int64_t reminders = w.reminderStatus.value_or(0), contacts = w.contactStatus.value_or(0);
  const json refused = json::object({{"error", "permission_required"}});
  Expected e;
  if (command == "authorization") {
    e.answer = {{"reminders", reminderWord(reminders)}, {"contacts", contactsWord(contacts)}};
  } else if (command == "reminder-lists" || command == "reminders") {
    if (reminders != 3) return {2, refused};
    if (command == "reminders") {
      e.answer = remindersAnswer(w, args);
    } else {
      e.answer = {{"lists", json::array()}};
      for (const auto& l : w.lists) e.answer["lists"].push_back({{"id", l.id}, {"title", l.title}});
    }
  } else if (command == "contacts") {
    if (contacts != 3) return {2, refused};
    e.answer = contactsAnswer(w);
  } else if (command == "request-reminders" || command == "request-contacts") {
    const bool ofReminders = command == "request-reminders";
    const AccessRequest& r = ofReminders ? w.reminderRequest : w.contactRequest;
    const std::int64_t after = r.statusAfter.value_or(ofReminders ? reminders : contacts);
    e.answer = {{"ok", r.granted}, {"authorization", ofReminders ? reminderWord(after) : contactsWord(after)}};
    e.status = r.granted ? 0 : 2;
  } else {
    return {2, json::object({{"error", "unknown_command"}})};
  }
  if (!allTextsValid(e.answer)) return {1, json(json::value_t::discarded), true};
  return e;
}

// ---- Running the tool ------------------------------------------------------------

struct Run {
  std::string out, err;
  int status = -1;  // exit status, or minus the signal
  std::vector<std::string> trace;
};

// The directory that holds the world file and the trace of each run, made
// once per process. It is removed at exit, and by a fault before it aborts
// (abort runs no exit handlers).
class Scratch {
 public:
  static const Scratch& get() {
    // Never destroyed, so that the exit handler can still use it.
    static const Scratch* scratch = new Scratch;
    return *scratch;
  }
  std::string world() const { return dir_ + "/world.json"; }
  std::string trace() const { return dir_ + "/trace"; }
  void remove() const {
    std::remove(world().c_str());
    std::remove(trace().c_str());
    ::rmdir(dir_.c_str());
  }

 private:
  Scratch() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/pimbridge-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    dir_ = pattern;
    std::atexit([] { get().remove(); });
  }

  std::string dir_;
};

// At most this much of a long text goes into a report; the input that made it
// is kept by libFuzzer and reproduces the run whole.
std::string clip(std::string_view text, std::size_t most = 2000) {
  if (text.size() <= most) return std::string(text);
  return std::string(text.substr(0, most)) + "... (" + std::to_string(text.size()) + " bytes)";
}

std::string shown(const json& j) {
  return clip(j.dump(-1, ' ', false, json::error_handler_t::replace), 300);
}

// Where two answers first differ, for a report that points at the fault.
std::optional<std::string> firstDifference(const json& want, const json& got, const std::string& path) {
  if (want.type() != got.type() || !want.is_structured()) {
    if (want == got) return std::nullopt;
    return path + ": expected " + shown(want) + ", got " + shown(got);
  }
  if (want.is_array()) {
    for (std::size_t i = 0; i < want.size() && i < got.size(); ++i) {
      if (auto d = firstDifference(want[i], got[i], path + "[" + std::to_string(i) + "]")) return d;
    }
    if (want.size() != got.size()) {
      return path + ": expected " + std::to_string(want.size()) + " elements, got " + std::to_string(got.size());
    }
    return std::nullopt;
  }
  for (const auto& [key, value] : want.items()) {
    if (!got.contains(key)) return path + "." + key + ": missing";
    if (auto d = firstDifference(value, got[key], path + "." + key)) return d;
  }
  for (const auto& [key, value] : got.items()) {
    if (!want.contains(key)) return path + "." + key + ": not expected";
  }
  return std::nullopt;
}

[[noreturn]] void fault(const std::string& what, const std::string& world, const std::vector<std::string>& args,
                        const Run* run) {
  std::fprintf(stderr, "cli fuzzer: %s\nworld: %s\narguments:", what.c_str(), clip(world).c_str());
  for (const auto& a : args) std::fprintf(stderr, " [%s]", clip(a, 80).c_str());
  if (run != nullptr) {
    std::fprintf(stderr, "\nstatus: %d\nstandard output: %s\nstandard error: %s\ntrace:\n", run->status,
                 clip(run->out).c_str(), clip(run->err, 20000).c_str());
    for (std::size_t i = 0; i < run->trace.size() && i < 40; ++i) std::fprintf(stderr, "  %s\n", run->trace[i].c_str());
  }
  std::fprintf(stderr, "\n");
  Scratch::get().remove();
  std::abort();
}

Run runTool(const std::string& world, const std::vector<std::string>& args) {
  const Scratch& scratch = Scratch::get();
  std::ofstream(scratch.world(), std::ios::binary | std::ios::trunc) << world;
  std::remove(scratch.trace().c_str());

  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string_view(*e).rfind("PIMBRIDGE_", 0) != 0) env.emplace_back(*e);
  }
  env.push_back("PIMBRIDGE_WORLD=" + scratch.world());
  env.push_back("PIMBRIDGE_TRACE=" + scratch.trace());
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  std::vector<std::string> argStorage{PIMBRIDGE_BINARY};
  argStorage.insert(argStorage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStorage) argv.push_back(a.data());
  argv.push_back(nullptr);

  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) fault("no pipe", world, args, nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (spawned != 0) fault(std::string("cannot start ") + PIMBRIDGE_BINARY, world, args, nullptr);

  Run run;
  if (!pimbridge::e2e::readUntilClosed(outPipe[0], errPipe[0], run.out, run.err,
                                       std::chrono::steady_clock::now() + runLimit)) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    fault("the run did not end within " + std::to_string(runLimit.count()) + " seconds", world, args, &run);
  }
  int wstatus = 0;
  while (::waitpid(pid, &wstatus, 0) < 0) {
  }
  run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -WTERMSIG(wstatus);

  std::ifstream traceFile(scratch.trace(), std::ios::binary);
  for (std::string line; std::getline(traceFile, line);) run.trace.push_back(line);
  return run;
}

// The tool runs in another process, so its branches give libFuzzer no
// coverage. These counters, which libFuzzer reads like its own, stand in for
// them: one per kind of run (command word, each store's state word, exit
// status), so that the fuzzer keeps an input for every kind it meets and
// mutates from it, instead of treating, say, a gate refused for "limited" as
// nothing new after one refused for "denied".
constexpr std::size_t commandKinds = commandWords.size() + 1;  // the words, and any other
constexpr std::size_t wordKinds = 6;                           // 0 to 4, and unknown
constexpr std::size_t statusKinds = 4;                         // 0, 1, 2, and any other
[[gnu::used,
  gnu::section(
      "__libfuzzer_extra_counters")]] std::uint8_t runKinds[commandKinds * wordKinds * wordKinds * statusKinds];

void countRunKind(const std::string& command, const World& w, int status) {
  std::size_t c = 0;
  while (c < commandWords.size() && commandWords[c] != command) ++c;
  const auto word = [](std::optional<std::int64_t> raw) {
    const std::int64_t r = raw.value_or(0);
    return r >= 0 && r <= 4 ? static_cast<std::size_t>(r) : wordKinds - 1;
  };
  const std::size_t s = status >= 0 && status <= 2 ? static_cast<std::size_t>(status) : statusKinds - 1;
  const std::size_t kind =
      ((c * wordKinds + word(w.reminderStatus)) * wordKinds + word(w.contactStatus)) * statusKinds + s;
  ++runKinds[kind];
}

bool traced(const Run& run, std::string_view prefix) {
  for (const auto& line : run.trace) {
    if (line.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

std::size_t keyCount(const json& j) {
  std::size_t n = j.is_object() ? j.size() : 0;
  if (j.is_structured()) {
    for (const auto& v : j) n += keyCount(v);
  }
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  // The stores' states are the last two bytes of the input and the argument
  // plan comes next, so that the choices that steer a run most stay in place
  // when libFuzzer grows or cuts the rest.
  World w;
  w.reminderStatus = makeStatus(in);
  w.contactStatus = makeStatus(in);
  const auto plan = planArguments(in);
  makeWorld(in, w);
  const std::vector<std::string> args = makeArguments(plan, w);
  const std::string worldText = worldJson(w).dump();
  const Expected want = expected(w, args);
  const Run run = runTool(worldText, args);
  countRunKind(args.empty() ? "authorization" : args.front(), w, run.status);
  const auto fail = [&](const std::string& what) { fault(what, worldText, args, &run); };

  // Whatever the input: a status of the tool's own, one JSON line or nothing,
  // and standard error only for the encoding failure (a sanitizer report
  // lands there too).
  if (run.status != 0 && run.status != 1 && run.status != 2) fail("an exit status outside 0, 1 and 2");
  if (!run.err.empty() && !(run.status == 1 && run.err == R"({"error":"encoding"})")) {
    fail("standard error holds something other than the encoding failure");
  }
  json answer(json::value_t::discarded);
  if (!run.out.empty()) {
    if (run.out.back() != '\n' || run.out.find('\n') != run.out.size() - 1) fail("standard output is not one line");
    std::size_t parsedKeys = 0;
    try {
      answer = json::parse(run.out.substr(0, run.out.size() - 1), [&parsedKeys](int, json::parse_event_t e, json&) {
        if (e == json::parse_event_t::key) ++parsedKeys;
        return true;
      });
    } catch (const json::exception& e) {
      fail(std::string("standard output is not JSON: ") + e.what());
    }
    if (!answer.is_object()) fail("the answer is not an object");
    if (parsedKeys != keyCount(answer)) fail("the answer writes a key twice");
  }

  // What this world and these arguments call for.
  if (run.status != want.status) fail("exit status " + std::to_string(want.status) + " expected");
  if (want.encodingFailure) {
    if (!run.out.empty() || run.err != R"({"error":"encoding"})") fail("the encoding failure expected");
  } else if (auto difference = firstDifference(want.answer, answer, "answer")) {
    fail("the answer differs at " + *difference);
  }

  // Nothing is read before the permission gate; the report creates no store;
  // the reminder request is the full-access one from macOS 14 on.
  const std::string command = args.empty() ? "authorization" : args.front();
  if (want.answer == json::object({{"error", "permission_required"}})) {
    const bool ofReminders = command != "contacts";
    const char* const reads[] = {"reminders.calendars",        "reminders.predicate", "reminders.fetch",
                                 "contacts.default-container", "contacts.predicate",  "contacts.enumerate"};
    for (const char* read : reads) {
      if (traced(run, read)) fail(std::string("refused by the gate, yet traced ") + read);
    }
    if (!traced(run, ofReminders ? "reminders.init" : "contacts.init")) fail("refused without making its store first");
  }
  if (command == "authorization" && (traced(run, "reminders.init") || traced(run, "contacts.init"))) {
    fail("the authorization report created a store");
  }
  if (command == "request-reminders") {
    long major = 14;
    if (w.osVersion) major = std::stol(*w.osVersion);
    const bool full = traced(run, "reminders.request-full-access"), older = traced(run, "reminders.request-access");
    if (full != (major >= 14) || older != (major < 14)) fail("the wrong reminder request for this system");
  }
  return 0;
}
