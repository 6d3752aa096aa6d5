// The JSON writer. It is the hot path of every large export, so plain runs of
// bytes are found eight at a time and copied at once, and each key's quoted
// form is made once per result rather than once per row.
#include "cli/json_writer.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace pimbridge::cli {

JsonText::JsonText(JsonText&& other) noexcept
    : data_(other.data_), size_(other.size_), capacity_(other.capacity_) {
  other.data_ = nullptr;
  other.size_ = other.capacity_ = 0;
}

JsonText& JsonText::operator=(JsonText&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    data_ = other.data_;
    size_ = other.size_;
    capacity_ = other.capacity_;
    other.data_ = nullptr;
    other.size_ = other.capacity_ = 0;
  }
  return *this;
}

JsonText::~JsonText() { std::free(data_); }

bool JsonText::reserve(std::size_t capacity) {
  if (capacity <= capacity_) return true;
  void* grown = std::realloc(data_, capacity);
  if (grown == nullptr) return false;
  data_ = static_cast<char*>(grown);
  capacity_ = capacity;
  return true;
}

bool JsonText::append(char c) {
  if (size_ == capacity_ && !reserve(capacity_ + capacity_ / 2 + 16)) return false;
  data_[size_++] = c;
  return true;
}

std::size_t utf8SequenceLength(const unsigned char* p, const unsigned char* end) {
  const unsigned char c = p[0];
  if (c < 0x80) return 1;
  const std::size_t left = static_cast<std::size_t>(end - p);
  auto tail = [](unsigned char b) { return (b & 0xC0) == 0x80; };
  if (c >= 0xC2 && c <= 0xDF) {
    return left >= 2 && tail(p[1]) ? 2 : 0;
  }
  if (c >= 0xE0 && c <= 0xEF) {
    if (left < 3 || !tail(p[1]) || !tail(p[2])) return 0;
    if (c == 0xE0 && p[1] < 0xA0) return 0;  // overlong
    if (c == 0xED && p[1] > 0x9F) return 0;  // surrogate
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (left < 4 || !tail(p[1]) || !tail(p[2]) || !tail(p[3])) return 0;
    if (c == 0xF0 && p[1] < 0x90) return 0;  // overlong
    if (c == 0xF4 && p[1] > 0x8F) return 0;  // above U+10FFFF
    return 4;
  }
  return 0;  // continuation byte, C0/C1 overlong lead, or F5 and above
}

bool isValidUtf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  while (p < end) {
    if (*p < 0x80) {
      ++p;
      continue;
    }
    const std::size_t n = utf8SequenceLength(p, end);
    if (n == 0) return false;
    p += n;
  }
  return true;
}

namespace {

constexpr std::uint64_t ones = 0x0101010101010101ull;
constexpr std::uint64_t highs = 0x8080808080808080ull;

// Nonzero when some byte of the word is a byte the writer must look at:
// non-ASCII, a control character, '"', '\\' or '/'. May also be nonzero for
// a plain word after such a byte, which only costs a slower look.
inline std::uint64_t needsLook(std::uint64_t w) {
  auto zeroByte = [](std::uint64_t v) { return (v - ones) & ~v & highs; };
  const std::uint64_t control = (w - ones * 0x20) & ~w;
  return (w | control | zeroByte(w ^ (ones * '"')) | zeroByte(w ^ (ones * '\\')) |
          zeroByte(w ^ (ones * '/'))) &
         highs;
}

// Two-character escapes, or 'u' where the \u00XX form is written.
constexpr char escapeFor(unsigned char c) {
  switch (c) {
    case '"':
      return '"';
    case '\\':
      return '\\';
    case '/':
      return '/';
    case '\b':
      return 'b';
    case '\f':
      return 'f';
    case '\n':
      return 'n';
    case '\r':
      return 'r';
    case '\t':
      return 't';
    default:
      return 'u';
  }
}

}  // namespace

class JsonWriter {
 public:
  JsonWriter(const ResultMap& map, JsonText& text) : map_(map), text_(text) {}

  bool write() {
    text_.size_ = 0;
    if (!map_.intact()) return false;
    if (!makeKeyFragments()) return false;
    const std::size_t hint = map_.jsonSizeHint();
    if (!text_.reserve(hint + hint / 8 + 64)) return false;
    out_ = text_.data_;
    limit_ = text_.data_ + text_.capacity_;
    const bool ok = writeMap(0);
    text_.size_ = static_cast<std::size_t>(out_ - text_.data_);
    return ok;
  }

 private:
  using Node = ResultMap::Node;
  using NodeKind = ResultMap::NodeKind;
  static constexpr std::uint32_t none = ResultMap::none;

  bool makeKeyFragments() {
    fragments_.reserve(map_.keys_.size());
    for (const auto& key : map_.keys_) {
      // The fragment is the quoted key and its colon, and a comma before it
      // for every entry but a map's first.
      JsonText quoted;
      JsonWriter inner(map_, quoted);
      if (!quoted.reserve(key.name.size() * 6 + 4)) return false;
      inner.out_ = quoted.data_;
      inner.limit_ = quoted.data_ + quoted.capacity_;
      *inner.out_++ = ',';
      if (!inner.writeString(key.name.data(), key.name.size())) return false;
      *inner.out_++ = ':';
      fragments_.emplace_back(quoted.data_, static_cast<std::size_t>(inner.out_ - quoted.data_));
    }
    return true;
  }

  bool ensure(std::size_t n) {
    if (static_cast<std::size_t>(limit_ - out_) >= n) return true;
    const std::size_t used = static_cast<std::size_t>(out_ - text_.data_);
    std::size_t grown = text_.capacity_ + text_.capacity_ / 2;
    if (grown < used + n) grown = used + n;
    if (!text_.reserve(grown)) return false;
    out_ = text_.data_ + used;
    limit_ = text_.data_ + text_.capacity_;
    return true;
  }

  void put(const char* s, std::size_t n) {
    std::memcpy(out_, s, n);
    out_ += n;
  }

  bool writeMap(std::uint32_t mapNode) {
    const auto& nodes = map_.nodes_;
    if (!ensure(2)) return false;
    *out_++ = '{';
    bool first = true;
    for (std::uint32_t e = nodes[mapNode].a; e != none; e = nodes[e].next) {
      const std::string& fragment = fragments_[nodes[e].key];
      const std::size_t skip = first ? 1 : 0;
      if (!ensure(fragment.size() + 8)) return false;
      put(fragment.data() + skip, fragment.size() - skip);
      first = false;
      if (!writeValue(nodes[e])) return false;
    }
    if (!ensure(1)) return false;
    *out_++ = '}';
    return true;
  }

  bool writeValue(const Node& n) {
    const auto& nodes = map_.nodes_;
    switch (n.kind) {
      case NodeKind::text:
        return writeString(map_.bytes_.data() + n.a, n.b);
      case NodeKind::boolean:
        if (n.a != 0) {
          put("true", 4);
        } else {
          put("false", 5);
        }
        return true;
      case NodeKind::null:
        put("null", 4);
        return true;
      case NodeKind::textList:
      case NodeKind::mapList: {
        *out_++ = '[';
        for (std::uint32_t e = n.a; e != none; e = nodes[e].next) {
          if (e != n.a) {
            if (!ensure(1)) return false;
            *out_++ = ',';
          }
          const bool ok = n.kind == NodeKind::textList ? writeString(map_.bytes_.data() + nodes[e].a, nodes[e].b)
                                                       : writeMap(e);
          if (!ok) return false;
        }
        if (!ensure(1)) return false;
        *out_++ = ']';
        return true;
      }
      case NodeKind::map:
        // A map is only ever a list element, which writeMap handles.
        return false;
    }
    return false;
  }

  bool writeString(const char* text, std::size_t length) {
    // Room for the worst case, every byte a six-character escape.
    if (!ensure(length * 6 + 2)) return false;
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    const auto* end = s + length;
    const auto* run = s;
    *out_++ = '"';
    while (s < end) {
      while (end - s >= 8) {
        std::uint64_t w;
        std::memcpy(&w, s, 8);
        if (needsLook(w) != 0) break;
        s += 8;
      }
      if (s >= end) break;
      const unsigned char c = *s;
      if (c >= 0x80) {
        const std::size_t n = utf8SequenceLength(s, end);
        if (n == 0) return false;
        s += n;
      } else if (c < 0x20 || c == '"' || c == '\\' || c == '/') {
        put(reinterpret_cast<const char*>(run), static_cast<std::size_t>(s - run));
        const char e = escapeFor(c);
        *out_++ = '\\';
        *out_++ = e;
        if (e == 'u') {
          static constexpr char hex[] = "0123456789abcdef";
          *out_++ = '0';
          *out_++ = '0';
          *out_++ = hex[c >> 4];
          *out_++ = hex[c & 0xF];
        }
        run = ++s;
      } else {
        ++s;
      }
    }
    put(reinterpret_cast<const char*>(run), static_cast<std::size_t>(end - run));
    *out_++ = '"';
    return true;
  }

  const ResultMap& map_;
  JsonText& text_;
  std::vector<std::string> fragments_;
  char* out_ = nullptr;
  char* limit_ = nullptr;
};

bool writeJson(const ResultMap& map, JsonText& text) { return JsonWriter(map, text).write(); }

}  // namespace pimbridge::cli
