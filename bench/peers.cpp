// The peer writers. Both walk the result map the same way, through entries(),
// kind(), text(), boolean(), texts() and maps().
#include "peers.hpp"

#include <cstring>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace pimbridge::bench {

namespace {

using answer::Kind;
using answer::ResultMap;

using RapidWriter = rapidjson::Writer<rapidjson::StringBuffer, rapidjson::UTF8<>, rapidjson::UTF8<>,
                                      rapidjson::CrtAllocator, rapidjson::kWriteValidateEncodingFlag>;

bool writeRapid(const ResultMap& map, ResultMap::Map at, RapidWriter& out) {
  bool ok = out.StartObject();
  for (const auto& entry : map.entries(at)) {
    ok = ok && out.Key(entry.key.data(), static_cast<rapidjson::SizeType>(entry.key.size()));
    const auto& value = entry.value;
    switch (value.kind()) {
      case Kind::text: {
        const auto text = value.text();
        ok = ok && out.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
        break;
      }
      case Kind::boolean:
        ok = ok && out.Bool(value.boolean());
        break;
      case Kind::null:
        ok = ok && out.Null();
        break;
      case Kind::textList:
        ok = ok && out.StartArray();
        for (const auto text : value.texts()) {
          ok = ok && out.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
        }
        ok = ok && out.EndArray();
        break;
      case Kind::mapList:
        ok = ok && out.StartArray();
        for (const auto element : value.maps()) ok = ok && writeRapid(map, element, out);
        ok = ok && out.EndArray();
        break;
    }
    if (!ok) return false;
  }
  return ok && out.EndObject();
}

nlohmann::json valueOf(const ResultMap& map, ResultMap::Map at) {
  nlohmann::json object = nlohmann::json::object();
  auto& entries = object.get_ref<nlohmann::json::object_t&>();
  for (const auto& entry : map.entries(at)) {
    const auto& value = entry.value;
    nlohmann::json item;
    switch (value.kind()) {
      case Kind::text:
        item = std::string(value.text());
        break;
      case Kind::boolean:
        item = value.boolean();
        break;
      case Kind::null:
        break;
      case Kind::textList: {
        item = nlohmann::json::array();
        auto& elements = item.get_ref<nlohmann::json::array_t&>();
        for (const auto text : value.texts()) elements.emplace_back(std::string(text));
        break;
      }
      case Kind::mapList: {
        item = nlohmann::json::array();
        auto& elements = item.get_ref<nlohmann::json::array_t&>();
        const auto maps = value.maps();
        elements.reserve(maps.size());
        for (const auto element : maps) elements.push_back(valueOf(map, element));
        break;
      }
    }
    entries.emplace(std::string(entry.key), std::move(item));
  }
  return object;
}

std::size_t walkMap(const ResultMap& map, ResultMap::Map at) {
  std::size_t seen = 0;
  for (const auto& entry : map.entries(at)) {
    seen += entry.key.size();
    const auto& value = entry.value;
    switch (value.kind()) {
      case Kind::text:
        seen += value.text().size();
        break;
      case Kind::boolean:
        seen += value.boolean() ? 1 : 0;
        break;
      case Kind::null:
        break;
      case Kind::textList:
        for (const auto text : value.texts()) seen += text.size();
        break;
      case Kind::mapList:
        for (const auto element : value.maps()) seen += walkMap(map, element);
        break;
    }
  }
  return seen;
}

}  // namespace

Bytes escapeSolidus(std::string_view json) {
  // Twice the size covers a text of nothing but "/"; pages never written are
  // never touched.
  Bytes out(json.size() * 2 + 1);
  const char* p = json.data();
  const char* const end = p + json.size();
  char* o = out.data();
  while (const void* found = std::memchr(p, '/', static_cast<std::size_t>(end - p))) {
    const char* slash = static_cast<const char*>(found);
    std::memcpy(o, p, static_cast<std::size_t>(slash - p));
    o += slash - p;
    *o++ = '\\';
    *o++ = '/';
    p = slash + 1;
  }
  std::memcpy(o, p, static_cast<std::size_t>(end - p));
  o += end - p;
  out.setSize(static_cast<std::size_t>(o - out.data()));
  return out;
}

std::optional<Bytes> rapidjsonText(const ResultMap& map) {
  rapidjson::StringBuffer buffer;
  // The same up-front size the tool's writer takes.
  const std::size_t hint = map.jsonSizeHint();
  buffer.Reserve(hint + hint / 8 + 64);
  RapidWriter writer(buffer);
  if (!writeRapid(map, map.top(), writer)) return std::nullopt;
  return escapeSolidus(std::string_view(buffer.GetString(), buffer.GetSize()));
}

nlohmann::json nlohmannValue(const ResultMap& map) {
  return valueOf(map, map.top());
}

std::optional<Bytes> nlohmannText(const nlohmann::json& value) {
  std::string text;
  try {
    text = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
  } catch (const nlohmann::json::type_error&) {
    return std::nullopt;
  }
  return escapeSolidus(text);
}

std::size_t walk(const ResultMap& map) {
  return walkMap(map, map.top());
}

}  // namespace pimbridge::bench
