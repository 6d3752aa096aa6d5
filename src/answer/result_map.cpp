// Building and reading result maps over their flat node store.
#include "answer/result_map.hpp"

#include <limits>

namespace pimbridge::answer {

namespace {
constexpr std::size_t maxBytes = std::numeric_limits<std::uint32_t>::max();
}  // namespace

ResultMap::ResultMap() {
  // Node 0 is the top-level map. Node 1 is a sink that is never linked into
  // the result: once the result has outgrown its offsets, every new value
  // lands there and the result is marked as not writable.
  nodes_.push_back(Node{0, NodeKind::map, none, none, none});
  nodes_.push_back(Node{0, NodeKind::map, none, none, none});
}

std::uint32_t ResultMap::newNode(NodeKind kind) {
  if (!intact_ || nodes_.size() >= none - 1) {
    intact_ = false;
    return 1;
  }
  nodes_.push_back(Node{0, kind, none, none, none});
  return static_cast<std::uint32_t>(nodes_.size() - 1);
}

void ResultMap::link(std::uint32_t parent, std::uint32_t child) {
  if (!intact_) return;
  Node& p = nodes_[parent];
  if (p.a == none) {
    p.a = child;
  } else {
    nodes_[p.b].next = child;
  }
  p.b = child;
}

std::uint32_t ResultMap::keyIndex(std::string_view key) {
  // Rows are filled key after key in the same order, so the key after the
  // last one used is the likely one.
  const std::size_t count = keys_.size();
  if (count != 0) {
    std::size_t hint = lastKey_ + 1 < count ? lastKey_ + 1 : 0;
    for (std::size_t tried = 0; tried < count; ++tried) {
      if (keys_[hint].name == key) {
        lastKey_ = static_cast<std::uint32_t>(hint);
        return lastKey_;
      }
      hint = hint + 1 < count ? hint + 1 : 0;
    }
  }
  if (count >= maxKeys) {
    intact_ = false;
    return 0;
  }
  keys_.push_back(Key{std::string(key)});
  lastKey_ = static_cast<std::uint32_t>(count);
  return lastKey_;
}

std::uint32_t ResultMap::entryFor(Map map, std::string_view key) {
  const std::uint32_t k = keyIndex(key);
  if (!intact_) return 1;
  for (std::uint32_t e = nodes_[map.node].a; e != none; e = nodes_[e].next) {
    if (nodes_[e].key == k) return e;
  }
  const std::uint32_t e = newNode(NodeKind::null);
  if (!intact_) return 1;
  nodes_[e].key = k;
  link(map.node, e);
  sizeHint_ += key.size() + 4;
  return e;
}

void ResultMap::storeText(std::uint32_t node, std::string_view text) {
  if (!intact_ || text.size() > maxBytes - bytes_.size()) {
    intact_ = false;
    return;
  }
  Node& n = nodes_[node];
  n.kind = NodeKind::text;
  n.a = static_cast<std::uint32_t>(bytes_.size());
  n.b = static_cast<std::uint32_t>(text.size());
  bytes_.append(text);
  sizeHint_ += text.size() + 3;
}

void ResultMap::setText(Map map, std::string_view key, std::string_view text) {
  storeText(entryFor(map, key), text);
}

void ResultMap::setBoolean(Map map, std::string_view key, bool value) {
  Node& n = nodes_[entryFor(map, key)];
  n.kind = NodeKind::boolean;
  n.a = value ? 1 : 0;
  sizeHint_ += 5;
}

void ResultMap::setNull(Map map, std::string_view key) {
  Node& n = nodes_[entryFor(map, key)];
  n.kind = NodeKind::null;
  sizeHint_ += 4;
}

ResultMap::List ResultMap::setList(Map map, std::string_view key, NodeKind kind) {
  const std::uint32_t e = entryFor(map, key);
  Node& n = nodes_[e];
  n.kind = kind;
  n.a = n.b = none;
  sizeHint_ += 2;
  return List{e};
}

ResultMap::List ResultMap::setTextList(Map map, std::string_view key) {
  return setList(map, key, NodeKind::textList);
}

ResultMap::List ResultMap::setMapList(Map map, std::string_view key) {
  return setList(map, key, NodeKind::mapList);
}

void ResultMap::appendText(List list, std::string_view text) {
  const std::uint32_t element = newNode(NodeKind::text);
  storeText(element, text);
  link(list.node, element);
}

ResultMap::Map ResultMap::appendMap(List list) {
  const std::uint32_t element = newNode(NodeKind::map);
  link(list.node, element);
  sizeHint_ += 3;
  return Map{element};
}

void ResultMap::reserve(std::size_t values, std::size_t textBytes) {
  if (nodes_.size() + values < none) nodes_.reserve(nodes_.size() + values);
  if (bytes_.size() + textBytes < maxBytes) bytes_.reserve(bytes_.size() + textBytes);
}

ResultMap::Value ResultMap::valueAt(std::uint32_t node) const {
  return Value(this, node);
}

std::size_t ResultMap::childCount(std::uint32_t parent) const {
  std::size_t count = 0;
  for (std::uint32_t e = nodes_[parent].a; e != none; e = nodes_[e].next) ++count;
  return count;
}

// The readers size their vectors first: one allocation per call, however
// many values a row holds.
std::vector<ResultMap::Entry> ResultMap::entries(Map map) const {
  std::vector<Entry> out;
  out.reserve(childCount(map.node));
  for (std::uint32_t e = nodes_[map.node].a; e != none; e = nodes_[e].next) {
    out.push_back(Entry{keys_[nodes_[e].key].name, valueAt(e)});
  }
  return out;
}

std::optional<ResultMap::Value> ResultMap::find(Map map, std::string_view key) const {
  for (std::uint32_t e = nodes_[map.node].a; e != none; e = nodes_[e].next) {
    if (keys_[nodes_[e].key].name == key) return valueAt(e);
  }
  return std::nullopt;
}

std::optional<std::string> ResultMap::textAt(Map map, std::string_view key) const {
  const auto value = find(map, key);
  if (!value || value->kind() != Kind::text) return std::nullopt;
  return std::string(value->text());
}

Kind ResultMap::Value::kind() const {
  switch (owner_->nodes_[node_].kind) {
    case NodeKind::text:
      return Kind::text;
    case NodeKind::boolean:
      return Kind::boolean;
    case NodeKind::null:
      return Kind::null;
    case NodeKind::textList:
      return Kind::textList;
    case NodeKind::mapList:
      return Kind::mapList;
    case NodeKind::map:
      // A map is only ever a list element, never an entry's value.
      return Kind::mapList;
  }
  return Kind::null;
}

std::string_view ResultMap::Value::text() const {
  const Node& n = owner_->nodes_[node_];
  if (n.kind != NodeKind::text) return {};
  return std::string_view(owner_->bytes_).substr(n.a, n.b);
}

bool ResultMap::Value::boolean() const {
  const Node& n = owner_->nodes_[node_];
  return n.kind == NodeKind::boolean && n.a != 0;
}

std::vector<std::string_view> ResultMap::Value::texts() const {
  std::vector<std::string_view> out;
  const Node& n = owner_->nodes_[node_];
  if (n.kind != NodeKind::textList) return out;
  out.reserve(owner_->childCount(node_));
  for (std::uint32_t e = n.a; e != none; e = owner_->nodes_[e].next) {
    out.push_back(owner_->valueAt(e).text());
  }
  return out;
}

std::vector<ResultMap::Map> ResultMap::Value::maps() const {
  std::vector<Map> out;
  const Node& n = owner_->nodes_[node_];
  if (n.kind != NodeKind::mapList) return out;
  out.reserve(owner_->childCount(node_));
  for (std::uint32_t e = n.a; e != none; e = owner_->nodes_[e].next) out.push_back(Map{e});
  return out;
}

}  // namespace pimbridge::answer
