// Fuzzes the JSON writer: the input bytes are decoded into a sequence of
// result-map operations, which are applied both to a ResultMap and to a plain
// model of it. The written text must follow every writing rule and parse back
// to exactly the model, or be refused exactly when a text in it is not UTF-8.
#include <fuzzer/FuzzedDataProvider.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "answer/json_writer.hpp"
#include "answer/result_map.hpp"
#include "utf8_reference.hpp"

namespace {

using nlohmann::json;
using pimbridge::answer::JsonText;
using pimbridge::answer::Kind;
using pimbridge::answer::ResultMap;

[[noreturn]] void fault(const std::string& what, std::string_view text = {}) {
  std::fprintf(stderr, "writer fuzzer: %s\n", what.c_str());
  if (!text.empty()) std::fprintf(stderr, "written text: %.*s\n", static_cast<int>(text.size()), text.data());
  std::abort();
}

// ---- The model -------------------------------------------------------------

struct ModelMap;

struct ModelValue {
  Kind kind = Kind::null;
  std::string text;
  bool boolean = false;
  std::vector<std::string> texts;
  std::vector<std::shared_ptr<ModelMap>> maps;
};

// Entries in the order their keys were first set; setting a key again
// replaces the value in place, as a result map does.
struct ModelMap {
  std::vector<std::pair<std::string, ModelValue>> entries;

  ModelValue& set(const std::string& key, Kind kind) {
    auto it = std::find_if(entries.begin(), entries.end(), [&](const auto& e) { return e.first == key; });
    if (it == entries.end()) {
      entries.emplace_back(key, ModelValue{});
      it = entries.end() - 1;
    }
    it->second = ModelValue{};
    it->second.kind = kind;
    return it->second;
  }
};

// The model's JSON value, and whether every text and key in it is valid UTF-8.
// Only what hangs from the top-level map counts: a value that was replaced,
// and a map inside it, is no longer part of the result.
json toJson(const ModelMap& map, bool& valid, std::size_t& keyCount) {
  json out = json::object();
  for (const auto& [key, value] : map.entries) {
    ++keyCount;
    valid = valid && pimbridge::fuzz::referenceValid(key);
    json v;
    switch (value.kind) {
      case Kind::text:
        valid = valid && pimbridge::fuzz::referenceValid(value.text);
        v = valid ? json(value.text) : json();
        break;
      case Kind::boolean:
        v = value.boolean;
        break;
      case Kind::null:
        v = nullptr;
        break;
      case Kind::textList:
        v = json::array();
        for (const auto& t : value.texts) {
          valid = valid && pimbridge::fuzz::referenceValid(t);
          v.push_back(valid ? json(t) : json());
        }
        break;
      case Kind::mapList:
        v = json::array();
        for (const auto& m : value.maps) v.push_back(toJson(*m, valid, keyCount));
        break;
    }
    // nlohmann holds only valid UTF-8 usefully; once invalid, the value no
    // longer matters.
    if (valid) out[key] = std::move(v);
  }
  return out;
}

// The result map as its own reading interface shows it.
json readBack(const ResultMap& result, ResultMap::Map map) {
  json out = json::object();
  for (const auto& entry : result.entries(map)) {
    const std::string key(entry.key);
    if (out.contains(key)) fault("the reading interface shows key \"" + key + "\" twice");
    switch (entry.value.kind()) {
      case Kind::text:
        out[key] = std::string(entry.value.text());
        break;
      case Kind::boolean:
        out[key] = entry.value.boolean();
        break;
      case Kind::null:
        out[key] = nullptr;
        break;
      case Kind::textList:
        out[key] = json::array();
        for (auto t : entry.value.texts()) out[key].push_back(std::string(t));
        break;
      case Kind::mapList:
        out[key] = json::array();
        for (auto m : entry.value.maps()) out[key].push_back(readBack(result, m));
        break;
    }
    const auto found = result.find(map, entry.key);
    if (!found || found->kind() != entry.value.kind()) fault("find(\"" + key + "\") disagrees with entries()");
  }
  return out;
}

// ---- Decoding the input into texts -----------------------------------------

void appendCodePoint(std::string& s, std::uint32_t cp) {
  if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    s += static_cast<char>(0xC0 | (cp >> 6));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    s += static_cast<char>(0xE0 | (cp >> 12));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (cp >> 18));
    s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Code points at the edges of the encoding lengths and of the surrogates.
constexpr std::array<std::uint32_t, 14> edgeCodePoints{0x7F,   0x80,    0x7FF,    0x800,  0xD7FF, 0xE000, 0xFFFD,
                                                       0xFFFF, 0x10000, 0x10FFFF, 0x2028, 0xFEFF, 0x00E9, 0x1F600};

// The characters the writer escapes or must leave alone.
constexpr std::array<char, 13> specialCharacters{'"',  '\\', '/',    '\b',   '\f',   '\n', '\r',
                                                 '\t', '\0', '\x01', '\x1f', '\x7f', ' '};

// Pieces that are not valid UTF-8: a lone continuation, a truncated
// sequence, overlong forms, a surrogate, a code point above U+10FFFF, bytes
// never used.
const std::array<std::string, 10> invalidPieces{"\x80",
                                                "\xC3",
                                                "\xE2\x82",
                                                "\xF0\x9F\x98",
                                                "\xC0\xAF",
                                                "\xE0\x80\xAF",
                                                "\xF0\x80\x80\xAF",
                                                "\xED\xA0\x80",
                                                "\xF4\x90\x80\x80",
                                                "\xFF"};

std::string makeText(FuzzedDataProvider& in) {
  // Most texts are valid, so that most results reach the written form; one in
  // sixteen may hold any bytes.
  const bool anyBytes = in.ConsumeIntegralInRange<int>(0, 15) == 0;
  const std::size_t pieces = in.ConsumeIntegralInRange<std::size_t>(0, 12);
  std::string s;
  for (std::size_t i = 0; i < pieces && in.remaining_bytes() > 0; ++i) {
    switch (in.ConsumeIntegralInRange<int>(0, anyBytes ? 9 : 6)) {
      case 0:
        s += static_cast<char>(in.ConsumeIntegralInRange<int>(0x20, 0x7E));
        break;
      case 1:
        // A long plain run, for the writer's eight-bytes-at-a-time path.
        s.append(in.ConsumeIntegralInRange<std::size_t>(1, 40),
                 static_cast<char>(in.ConsumeIntegralInRange<int>('0', 'z')));
        break;
      case 2:
        s += specialCharacters[in.ConsumeIntegralInRange<std::size_t>(0, specialCharacters.size() - 1)];
        break;
      case 3: {
        auto cp = in.ConsumeIntegralInRange<std::uint32_t>(0x80, 0x10FFFF - 0x800);
        if (cp >= 0xD800) cp += 0x800;  // skip the surrogates
        appendCodePoint(s, cp);
        break;
      }
      case 4:
        appendCodePoint(s, edgeCodePoints[in.ConsumeIntegralInRange<std::size_t>(0, edgeCodePoints.size() - 1)]);
        break;
      case 5:
        s += static_cast<char>(in.ConsumeIntegralInRange<int>(0, 0x1F));
        break;
      case 6:
        if (s.size() < 2048) s += s;
        break;
      case 7:
        s += invalidPieces[in.ConsumeIntegralInRange<std::size_t>(0, invalidPieces.size() - 1)];
        break;
      case 8:
        s += static_cast<char>(in.ConsumeIntegral<std::uint8_t>());
        break;
      case 9:
        s += in.ConsumeBytesAsString(in.ConsumeIntegralInRange<std::size_t>(1, 8));
        break;
    }
  }
  return s;
}

// Keys come mostly from a small pool, so that keys repeat within a map and
// across maps; sometimes they are made like any text.
std::string makeKey(FuzzedDataProvider& in) {
  static const std::array<std::string, 10> pool{"id", "title", "list",        "due",   "completed",
                                                "",   "a/b",   "caf\xC3\xA9", "error", "\xFF"};
  const auto pick = in.ConsumeIntegralInRange<std::size_t>(0, pool.size() + 1);
  if (pick < pool.size() - 1) return pool[pick];
  if (pick == pool.size() - 1 && in.ConsumeBool()) return pool[pick];  // the invalid one, less often
  return makeText(in);
}

// ---- Building ---------------------------------------------------------------

struct MapHandle {
  ResultMap::Map map;
  std::shared_ptr<ModelMap> model;
};

struct ListHandle {
  ResultMap::List list;
  ModelMap* owner;  // the map whose entry holds the list
  std::string key;
  Kind kind;
};

class Builder {
 public:
  Builder() : root_(std::make_shared<ModelMap>()) { maps_.push_back(MapHandle{result_.top(), root_}); }

  void run(FuzzedDataProvider& in) {
    for (int op = 0; op < 256 && in.remaining_bytes() > 0; ++op) step(in);
  }

  const ResultMap& result() const { return result_; }
  const ModelMap& model() const { return *root_; }

 private:
  MapHandle& pickMap(FuzzedDataProvider& in) {
    return maps_[in.ConsumeIntegralInRange<std::size_t>(0, maps_.size() - 1)];
  }

  // A list handle names the map entry that holds the list; once the entry is
  // set again it no longer names that list, so the handle is dropped.
  ModelValue& setInModel(MapHandle& m, const std::string& key, Kind kind) {
    std::erase_if(lists_, [&](const ListHandle& l) { return l.owner == m.model.get() && l.key == key; });
    return m.model->set(key, kind);
  }

  void step(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
      case 0: {
        auto& m = pickMap(in);
        const auto key = makeKey(in);
        const auto text = makeText(in);
        result_.setText(m.map, key, text);
        setInModel(m, key, Kind::text).text = text;
        break;
      }
      case 1: {
        auto& m = pickMap(in);
        const auto key = makeKey(in);
        const bool value = in.ConsumeBool();
        result_.setBoolean(m.map, key, value);
        setInModel(m, key, Kind::boolean).boolean = value;
        break;
      }
      case 2: {
        auto& m = pickMap(in);
        const auto key = makeKey(in);
        result_.setNull(m.map, key);
        setInModel(m, key, Kind::null);
        break;
      }
      case 3:
      case 4: {
        auto& m = pickMap(in);
        const auto key = makeKey(in);
        const bool ofTexts = in.ConsumeBool();
        const auto list = ofTexts ? result_.setTextList(m.map, key) : result_.setMapList(m.map, key);
        setInModel(m, key, ofTexts ? Kind::textList : Kind::mapList);
        lists_.push_back(ListHandle{list, m.model.get(), key, ofTexts ? Kind::textList : Kind::mapList});
        break;
      }
      case 5:
      case 6: {
        if (lists_.empty()) break;
        auto& l = lists_[in.ConsumeIntegralInRange<std::size_t>(0, lists_.size() - 1)];
        ModelValue& value = entryValue(l);
        if (l.kind == Kind::textList) {
          const auto text = makeText(in);
          result_.appendText(l.list, text);
          value.texts.push_back(text);
        } else {
          const auto map = result_.appendMap(l.list);
          value.maps.push_back(std::make_shared<ModelMap>());
          maps_.push_back(MapHandle{map, value.maps.back()});
        }
        break;
      }
      case 7:
        result_.reserve(in.ConsumeIntegralInRange<std::size_t>(0, 64), in.ConsumeIntegralInRange<std::size_t>(0, 4096));
        break;
    }
  }

  ModelValue& entryValue(const ListHandle& l) {
    for (auto& [key, value] : l.owner->entries) {
      if (key == l.key) return value;
    }
    fault("a list handle outlived its entry");
  }

  ResultMap result_;
  std::shared_ptr<ModelMap> root_;
  std::vector<MapHandle> maps_;
  std::vector<ListHandle> lists_;
};

// ---- The writing rules -------------------------------------------------------

bool isHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

void checkWritingRules(std::string_view text) {
  if (text.empty() || text.front() != '{' || text.back() != '}') fault("the text is not one object", text);
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20) fault("a raw control byte at offset " + std::to_string(i), text);
    if (!inString) {
      if (c == ' ') fault("whitespace outside a string at offset " + std::to_string(i), text);
      if (c == '"') inString = true;
      continue;
    }
    if (c == '"') {
      inString = false;
    } else if (c == '/') {
      fault("a raw \"/\" at offset " + std::to_string(i), text);
    } else if (c == '\\') {
      if (i + 1 >= text.size()) fault("an escape at the very end", text);
      const char e = text[++i];
      if (e == 'u') {
        if (i + 4 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2]) || !isHex(text[i + 3]) ||
            !isHex(text[i + 4])) {
          fault("a broken \\u escape at offset " + std::to_string(i), text);
        }
        const unsigned long value = std::stoul(std::string(text.substr(i + 1, 4)), nullptr, 16);
        // Only control characters are written as \u escapes; every other
        // character, non-ASCII included, is written as itself.
        if (value >= 0x20) fault("a \\u escape for U+" + std::string(text.substr(i + 1, 4)), text);
        i += 4;
      } else if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
        fault(std::string("an unknown escape \\") + e, text);
      }
    }
  }
  if (inString) fault("an unterminated string", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  Builder builder;
  builder.run(in);

  bool valid = true;
  std::size_t keyCount = 0;
  const json expected = toJson(builder.model(), valid, keyCount);

  // The reading interface shows the same result whatever its bytes.
  if (valid && readBack(builder.result(), builder.result().top()) != expected) {
    fault("the reading interface disagrees with the model: " +
          readBack(builder.result(), builder.result().top()).dump() + " against " + expected.dump());
  }

  JsonText text;
  const bool written = pimbridge::answer::writeJson(builder.result(), text);
  if (written != valid) {
    fault(valid ? "a result of valid UTF-8 was refused: " + expected.dump() : "a result with invalid UTF-8 was written",
          written ? text.view() : std::string_view());
  }
  if (!written) return 0;

  const std::string first(text.view());
  checkWritingRules(first);

  // Strict parsing: no comments, nothing after the object, strings of valid
  // UTF-8 only. Counting the keys as they are parsed catches a key written
  // twice, which the parsed object would silently collapse.
  std::size_t parsedKeys = 0;
  json parsed;
  try {
    parsed = json::parse(first, [&parsedKeys](int, json::parse_event_t event, json&) {
      if (event == json::parse_event_t::key) ++parsedKeys;
      return true;
    });
  } catch (const json::exception& e) {
    fault(std::string("the text does not parse: ") + e.what(), first);
  }
  if (parsed != expected) fault("the text parses to other values than the result holds: " + expected.dump(), first);
  if (parsedKeys != keyCount) {
    fault("the text holds " + std::to_string(parsedKeys) + " keys, the result " + std::to_string(keyCount), first);
  }

  // Writing into a buffer that already holds a text replaces it.
  if (!pimbridge::answer::writeJson(builder.result(), text) || text.view() != first) {
    fault("a second write into the same buffer differs", text.view());
  }
  return 0;
}
