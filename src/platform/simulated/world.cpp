// Reading world files. Every key is checked: an unknown or mistyped key is a
// broken test set-up and must not pass silently.
#include "platform/simulated/world.hpp"

#include <nlohmann/json.hpp>

#include <initializer_list>
#include <limits>

namespace pimbridge::simulated {

namespace {

using nlohmann::json;

[[noreturn]] void fail(const std::string& where, const std::string& what) {
  throw WorldError(where + ": " + what);
}

void onlyKeys(const json& object, const std::string& where, std::initializer_list<std::string_view> allowed) {
  if (!object.is_object()) fail(where, "must be an object");
  for (const auto& item : object.items()) {
    bool known = false;
    for (auto key : allowed) known = known || item.key() == key;
    if (!known) fail(where, "unknown key \"" + item.key() + "\"");
  }
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string text(const json& value, const std::string& where) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_object()) {
    onlyKeys(value, where, {"hex"});
    const auto hex = value.find("hex");
    if (hex == value.end() || !hex->is_string()) fail(where, "a {\"hex\": …} text needs a string of hex digits");
    const auto& digits = hex->get_ref<const std::string&>();
    if (digits.size() % 2 != 0) fail(where, "hex text has an odd number of digits");
    std::string bytes;
    bytes.reserve(digits.size() / 2);
    for (std::size_t i = 0; i < digits.size(); i += 2) {
      const int high = hexDigit(digits[i]);
      const int low = hexDigit(digits[i + 1]);
      if (high < 0 || low < 0) fail(where, "hex text holds a character that is not a hex digit");
      bytes.push_back(static_cast<char>(high * 16 + low));
    }
    return bytes;
  }
  fail(where, "must be a text (a string or {\"hex\": …})");
}

std::optional<std::string> optionalText(const json& value, const std::string& where) {
  if (value.is_null()) return std::nullopt;
  return text(value, where);
}

std::int64_t integer(const json& value, const std::string& where) {
  if (value.is_number_integer() &&
      !(value.is_number_unsigned() && value.get<std::uint64_t>() > std::numeric_limits<std::int64_t>::max())) {
    return value.get<std::int64_t>();
  }
  fail(where, "must be a signed 64-bit integer");
}

std::int64_t count(const json& value, const std::string& where) {
  const std::int64_t n = integer(value, where);
  if (n < 0) fail(where, "must not be negative");
  return n;
}

bool boolean(const json& value, const std::string& where) {
  if (!value.is_boolean()) fail(where, "must be true or false");
  return value.get<bool>();
}

const json& array(const json& value, const std::string& where) {
  if (!value.is_array()) fail(where, "must be an array");
  return value;
}

// The value named by a word that must be one of the given ones.
template <typename Value>
Value oneOf(const json& value, const std::string& where,
            std::initializer_list<std::pair<std::string_view, Value>> words) {
  const std::string word = value.is_string() ? value.get<std::string>() : std::string();
  std::string allowed;
  std::size_t i = 0;
  for (const auto& [name, meaning] : words) {
    if (word == name) return meaning;
    allowed.append(i == 0 ? "" : i + 1 == words.size() ? " or " : ", ").append("\"").append(name).append("\"");
    ++i;
  }
  fail(where, "must be " + allowed);
}

std::string at(const std::string& where, std::string_view key) {
  return where + "." + std::string(key);
}
std::string at(const std::string& where, std::size_t index) {
  return where + "[" + std::to_string(index) + "]";
}

OsVersion osVersion(const json& value, const std::string& where) {
  const std::string v = text(value, where);
  OsVersion version;
  long* parts[] = {&version.major, &version.minor, &version.patch};
  std::size_t pos = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    if (i > 0) {
      if (pos >= v.size() || v[pos] != '.') fail(where, "must be \"major.minor.patch\"");
      ++pos;
    }
    const std::size_t start = pos;
    long n = 0;
    while (pos < v.size() && v[pos] >= '0' && v[pos] <= '9' && pos - start < 9) n = n * 10 + (v[pos++] - '0');
    if (pos == start) fail(where, "must be \"major.minor.patch\"");
    *parts[i] = n;
  }
  if (pos != v.size()) fail(where, "must be \"major.minor.patch\"");
  return version;
}

const json& required(const json& object, std::string_view key, const std::string& where) {
  const auto it = object.find(key);
  if (it == object.end()) fail(where, "\"" + std::string(key) + "\" is required");
  return *it;
}

AccessAnswer accessAnswer(const json& value, const std::string& where) {
  onlyKeys(value, where, {"granted", "error", "after_ms", "status_after"});
  AccessAnswer answer;
  answer.granted = boolean(required(value, "granted", where), at(where, "granted"));
  if (auto it = value.find("error"); it != value.end()) answer.error = boolean(*it, at(where, "error"));
  if (auto it = value.find("after_ms"); it != value.end()) answer.afterMs = count(*it, at(where, "after_ms"));
  if (auto it = value.find("status_after"); it != value.end()) {
    answer.statusAfter = integer(*it, at(where, "status_after"));
  }
  return answer;
}

DueComponents dueComponents(const json& value, const std::string& where) {
  onlyKeys(value, where, {"year", "month", "day", "hour", "minute", "second", "utc_offset_minutes"});
  DueComponents due;
  const std::pair<std::string_view, std::optional<std::int64_t>*> fields[] = {
      {"year", &due.year},
      {"month", &due.month},
      {"day", &due.day},
      {"hour", &due.hour},
      {"minute", &due.minute},
      {"second", &due.second},
      {"utc_offset_minutes", &due.utcOffsetMinutes},
  };
  for (const auto& [key, field] : fields) {
    if (auto it = value.find(key); it != value.end()) *field = integer(*it, at(where, key));
  }
  return due;
}

SimReminder reminder(const json& value, const std::string& where) {
  onlyKeys(value, where, {"id", "title", "completed", "due"});
  SimReminder r;
  r.id = text(required(value, "id", where), at(where, "id"));
  r.title = text(required(value, "title", where), at(where, "title"));
  if (auto it = value.find("completed"); it != value.end()) r.completed = boolean(*it, at(where, "completed"));
  if (auto it = value.find("due"); it != value.end() && !it->is_null()) r.due = dueComponents(*it, at(where, "due"));
  return r;
}

SimList list(const json& value, const std::string& where) {
  onlyKeys(value, where, {"id", "title", "fetch", "after_ms", "deliver_on", "reminders", "generate"});
  SimList l;
  l.id = text(required(value, "id", where), at(where, "id"));
  l.title = text(required(value, "title", where), at(where, "title"));
  if (auto it = value.find("fetch"); it != value.end()) {
    l.fetch =
        oneOf<FetchMode>(*it, at(where, "fetch"),
                         {{"normal", FetchMode::normal}, {"never", FetchMode::never}, {"absent", FetchMode::absent}});
  }
  if (auto it = value.find("after_ms"); it != value.end()) l.afterMs = count(*it, at(where, "after_ms"));
  if (auto it = value.find("deliver_on"); it != value.end()) {
    l.deliverOn =
        oneOf<DeliverOn>(*it, at(where, "deliver_on"), {{"other", DeliverOn::other}, {"main", DeliverOn::main}});
  }
  if (auto it = value.find("reminders"); it != value.end()) {
    const auto& items = array(*it, at(where, "reminders"));
    for (std::size_t i = 0; i < items.size(); ++i)
      l.reminders.push_back(reminder(items[i], at(at(where, "reminders"), i)));
  }
  if (auto it = value.find("generate"); it != value.end()) {
    l.generate = static_cast<std::uint64_t>(count(*it, at(where, "generate")));
  }
  return l;
}

std::vector<std::string> texts(const json& value, const std::string& where) {
  std::vector<std::string> out;
  const auto& items = array(value, where);
  for (std::size_t i = 0; i < items.size(); ++i) out.push_back(text(items[i], at(where, i)));
  return out;
}

SimContact contact(const json& value, const std::string& where, const std::string& defaultContainer) {
  onlyKeys(value, where, {"id", "container", "given", "family", "phones", "emails"});
  SimContact c;
  c.id = text(required(value, "id", where), at(where, "id"));
  c.container = defaultContainer;
  if (auto it = value.find("container"); it != value.end()) c.container = text(*it, at(where, "container"));
  if (auto it = value.find("given"); it != value.end()) c.given = optionalText(*it, at(where, "given"));
  if (auto it = value.find("family"); it != value.end()) c.family = optionalText(*it, at(where, "family"));
  if (auto it = value.find("phones"); it != value.end()) c.phones = texts(*it, at(where, "phones"));
  if (auto it = value.find("emails"); it != value.end()) c.emails = texts(*it, at(where, "emails"));
  return c;
}

}  // namespace

World parseWorld(std::string_view source) {
  json root;
  try {
    root = json::parse(source.begin(), source.end());
  } catch (const json::exception& e) {
    throw WorldError(std::string("not valid JSON: ") + e.what());
  }
  World world;
  onlyKeys(root, "world", {"os_version", "reminders", "contacts"});
  if (auto it = root.find("os_version"); it != root.end()) world.osVersion = osVersion(*it, "os_version");

  if (auto it = root.find("reminders"); it != root.end()) {
    const std::string where = "reminders";
    onlyKeys(*it, where, {"status", "request", "lists"});
    if (auto s = it->find("status"); s != it->end()) world.reminders.status = integer(*s, at(where, "status"));
    if (auto r = it->find("request"); r != it->end()) world.reminders.request = accessAnswer(*r, at(where, "request"));
    if (auto l = it->find("lists"); l != it->end()) {
      const auto& items = array(*l, at(where, "lists"));
      for (std::size_t i = 0; i < items.size(); ++i) {
        world.reminders.lists.push_back(list(items[i], at(at(where, "lists"), i)));
      }
    }
  }

  if (auto it = root.find("contacts"); it != root.end()) {
    const std::string where = "contacts";
    onlyKeys(*it, where, {"status", "request", "default_container", "contacts", "generate", "fail_after"});
    auto& store = world.contacts;
    if (auto s = it->find("status"); s != it->end()) store.status = integer(*s, at(where, "status"));
    if (auto r = it->find("request"); r != it->end()) store.request = accessAnswer(*r, at(where, "request"));
    if (auto d = it->find("default_container"); d != it->end()) {
      store.defaultContainer = optionalText(*d, at(where, "default_container"));
    }
    const std::string defaultContainer = store.defaultContainer.value_or(std::string());
    if (auto c = it->find("contacts"); c != it->end()) {
      const auto& items = array(*c, at(where, "contacts"));
      for (std::size_t i = 0; i < items.size(); ++i) {
        store.contacts.push_back(contact(items[i], at(at(where, "contacts"), i), defaultContainer));
      }
    }
    if (auto g = it->find("generate"); g != it->end()) {
      store.generate = static_cast<std::uint64_t>(count(*g, at(where, "generate")));
    }
    if (auto f = it->find("fail_after"); f != it->end()) {
      store.failAfter = static_cast<std::uint64_t>(count(*f, at(where, "fail_after")));
    }
  }
  return world;
}

std::string_view demoWorldJson() {
  return R"({
  "os_version": "14.4.1",
  "reminders": {
    "status": 3,
    "request": {"granted": true, "after_ms": 500, "status_after": 3},
    "lists": [
      {"id": "list-home", "title": "Home", "reminders": [
        {"id": "rem-1", "title": "Water the plants", "due": {"year": 2024, "month": 3, "day": 5, "hour": 16, "minute": 30, "utc_offset_minutes": 60}},
        {"id": "rem-2", "title": "Café with Zoë", "completed": true},
        {"id": "rem-3", "title": "Pay the \"big\" bill", "due": {"year": 2024, "month": 4, "day": 1}}
      ]},
      {"id": "work/projects", "title": "Work", "reminders": [
        {"id": "rem-4", "title": "Send the Q2 report", "due": {"year": 2024, "month": 6, "day": 28, "hour": 9, "utc_offset_minutes": -240}},
        {"id": "rem-5", "title": "Book the review room", "completed": true}
      ]},
      {"id": "list-errands", "title": "Errands", "reminders": [
        {"id": "rem-6", "title": "Pick up the parcel"}
      ]}
    ]
  },
  "contacts": {
    "status": 3,
    "request": {"granted": true, "after_ms": 500, "status_after": 3},
    "default_container": "default",
    "contacts": [
      {"id": "contact-ada", "given": "Ada", "family": "Lovelace", "phones": ["+44 20 7946 0018"], "emails": ["ada@example.org"]},
      {"id": "contact-jose", "given": "José", "family": "Núñez", "phones": ["+34 91 123 45 67", "+34 600 000 000"], "emails": []},
      {"id": "contact-grace", "given": "Grace", "phones": [], "emails": ["grace@example.com", "g.hopper@example.net"]}
    ]
  }
})";
}

}  // namespace pimbridge::simulated
