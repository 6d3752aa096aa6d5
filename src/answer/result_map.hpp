// The result map: what a command answers, before it is written as JSON.
//
// A map from text keys to values of exactly five kinds: text, boolean, null,
// list of text and list of maps. There is no number kind. A result map and
// every map nested in it share one flat store of nodes and bytes, so that an
// export of a hundred thousand rows costs a few small nodes per value rather
// than a heap object per key and value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pimbridge::answer {

enum class Kind : std::uint8_t { text, boolean, null, textList, mapList };

class ResultMap {
 public:
  // A map inside this result: the top-level map, or an element of a list of maps.
  struct Map {
    std::uint32_t node;
  };
  // A list value inside this result. It stays valid until its key is set
  // again in its map.
  struct List {
    std::uint32_t node;
  };

  class Value;
  struct Entry;

  ResultMap();

  Map top() const { return Map{0}; }

  // Setting a key that the map already has replaces its value, so the keys of
  // one map stay distinct.
  void setText(Map map, std::string_view key, std::string_view text);
  void setBoolean(Map map, std::string_view key, bool value);
  void setNull(Map map, std::string_view key);
  List setTextList(Map map, std::string_view key);
  List setMapList(Map map, std::string_view key);
  void appendText(List list, std::string_view text);
  Map appendMap(List list);

  // Shorthands for the top-level map.
  void setText(std::string_view key, std::string_view text) { setText(top(), key, text); }
  void setBoolean(std::string_view key, bool value) { setBoolean(top(), key, value); }
  void setNull(std::string_view key) { setNull(top(), key); }
  List setTextList(std::string_view key) { return setTextList(top(), key); }
  List setMapList(std::string_view key) { return setMapList(top(), key); }

  // Makes room for this many more values and text bytes, so that a large
  // export grows its storage once.
  void reserve(std::size_t values, std::size_t textBytes);

  // Reading.
  std::vector<Entry> entries(Map map) const;
  std::optional<Value> find(Map map, std::string_view key) const;
  // A copy of the text at key; none when the key is missing or holds another kind.
  std::optional<std::string> textAt(Map map, std::string_view key) const;

  // False once the result grew beyond what its 32-bit offsets address; such a
  // result cannot be written.
  bool intact() const { return intact_; }

  // A rough size of the JSON text, for sizing the output buffer.
  std::size_t jsonSizeHint() const { return sizeHint_; }

 private:
  friend class JsonWriter;
  static constexpr std::uint32_t none = 0xFFFFFFFFu;
  enum class NodeKind : std::uint8_t { text, boolean, null, textList, mapList, map };

  // One node: a map, a map entry, or a list element. Values live in the node
  // itself: a text as a range of bytes_, a list or map as its first and last
  // child. Siblings are chained through next.
  struct Node {
    std::uint32_t key : 24;  // index into keys_; entries only
    NodeKind kind : 8;
    std::uint32_t next;
    std::uint32_t a;  // text: offset; boolean: value; list, map: first child
    std::uint32_t b;  // text: length; list, map: last child
  };
  static constexpr std::uint32_t maxKeys = 1u << 24;

  struct Key {
    std::string name;
  };

  std::uint32_t keyIndex(std::string_view key);
  std::uint32_t newNode(NodeKind kind);
  void link(std::uint32_t parent, std::uint32_t child);
  std::uint32_t entryFor(Map map, std::string_view key);
  List setList(Map map, std::string_view key, NodeKind kind);
  void storeText(std::uint32_t node, std::string_view text);
  Value valueAt(std::uint32_t node) const;
  std::size_t childCount(std::uint32_t parent) const;

  std::vector<Node> nodes_;
  std::string bytes_;
  std::vector<Key> keys_;
  std::uint32_t lastKey_ = 0;
  std::size_t sizeHint_ = 2;
  bool intact_ = true;
};

// A read-only view of one value inside a result map.
class ResultMap::Value {
 public:
  Kind kind() const;
  std::string_view text() const;
  bool boolean() const;
  std::vector<std::string_view> texts() const;
  std::vector<Map> maps() const;

 private:
  friend class ResultMap;
  Value(const ResultMap* owner, std::uint32_t node) : owner_(owner), node_(node) {}
  const ResultMap* owner_;
  std::uint32_t node_;
};

struct ResultMap::Entry {
  std::string_view key;
  Value value;
};

}  // namespace pimbridge::answer
