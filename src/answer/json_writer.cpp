// The JSON writer. It is the hot path of every large export, so texts are read
// and stored eight bytes at a time, a word's plain bytes kept at once, and each
// key's quoted form is made once per result rather than once per row.
#include "answer/json_writer.hpp"

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace pimbridge::answer {

JsonText::JsonText(JsonText&& other) noexcept : data_(other.data_), size_(other.size_), capacity_(other.capacity_) {
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

JsonText::~JsonText() {
  std::free(data_);
}

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

namespace {

// The length of the valid UTF-8 sequence at p, whose first byte is 0x80 or
// above, or 0 when it is not one. Inline, because the writer runs it for
// every non-ASCII character.
inline std::size_t multibyteLength(const unsigned char* p, const unsigned char* end) {
  const unsigned char c = p[0];
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

}  // namespace

std::size_t utf8SequenceLength(const unsigned char* p, const unsigned char* end) {
  return p[0] < 0x80 ? 1 : multibyteLength(p, end);
}

bool isValidUtf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  while (p < end) {
    if (*p < 0x80) {
      ++p;
      continue;
    }
    const std::size_t n = multibyteLength(p, end);
    if (n == 0) return false;
    p += n;
  }
  return true;
}

namespace {

constexpr std::uint64_t ones = 0x0101010101010101ull;
constexpr std::uint64_t highs = 0x8080808080808080ull;

// The high bit of each byte of the word that the writer must look at:
// non-ASCII, a control character, '"', '\\' or '/'. A plain byte may be marked
// too, but only one that comes after a marked byte in the word's arithmetic
// order; a plain byte that is looked at is simply copied.
inline std::uint64_t needsLook(std::uint64_t w) {
  auto zeroByte = [](std::uint64_t v) { return (v - ones) & ~v & highs; };
  const std::uint64_t control = (w - ones * 0x20) & ~w;
  return (w | control | zeroByte(w ^ (ones * '"')) | zeroByte(w ^ (ones * '\\')) | zeroByte(w ^ (ones * '/'))) & highs;
}

// A word as eight bytes in memory order: index 0 is the byte at the lowest
// address. The arithmetic order of the bytes follows the machine's byte order.
inline std::uint64_t loadWord(const unsigned char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

// The memory index of the first byte whose high bit is set in a nonzero mask.
// On a big-endian machine a plain byte before the first byte of interest may
// be marked (see needsLook); it is copied like any plain byte.
inline unsigned firstMarked(std::uint64_t mask) {
  if constexpr (std::endian::native == std::endian::little) {
    return static_cast<unsigned>(std::countr_zero(mask)) / 8;
  } else {
    return static_cast<unsigned>(std::countl_zero(mask)) / 8;
  }
}

// The mask of the high bit of the byte at memory index i (0 to 7).
inline std::uint64_t markAt(std::size_t i) {
  if constexpr (std::endian::native == std::endian::little) {
    return std::uint64_t{0x80} << (8 * i);
  } else {
    return std::uint64_t{0x80} << (8 * (7 - i));
  }
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

  // Stores run in whole words and short fixed blocks that may reach this far
  // past the bytes they keep; the next write overwrites the excess.
  static constexpr std::size_t slack = 16;

  // A key's quoted form and colon, with a comma before it for every entry but
  // a map's first. The bytes are padded to at least `slack`, so that a short
  // fragment is copied as one fixed block.
  struct Fragment {
    std::string bytes;
    std::size_t size;
  };

  bool makeKeyFragments() {
    fragments_.reserve(map_.keys_.size());
    for (const auto& key : map_.keys_) {
      JsonText quoted;
      JsonWriter inner(map_, quoted);
      if (!quoted.reserve(key.name.size() * 6 + 4 + slack)) return false;
      inner.out_ = quoted.data_;
      inner.limit_ = quoted.data_ + quoted.capacity_;
      *inner.out_++ = ',';
      const auto* name = reinterpret_cast<const unsigned char*>(key.name.data());
      if (!inner.writeString(name, key.name.size(), name + key.name.size())) {
        // Not UTF-8. The key may belong only to a value that was replaced
        // since, so the result is refused only when an entry still uses it.
        fragments_.push_back(Fragment{std::string(), 0});
        continue;
      }
      *inner.out_++ = ':';
      const auto size = static_cast<std::size_t>(inner.out_ - quoted.data_);
      std::string bytes(quoted.data_, size);
      if (bytes.size() < slack + 1) bytes.resize(slack + 1, '\0');
      fragments_.push_back(Fragment{std::move(bytes), size});
    }
    return true;
  }

  bool ensure(std::size_t n) {
    n += slack;
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

  // Copies the first n bytes of a block that is at least `slack` long.
  void putShort(const char* s, std::size_t n) {
    if (n <= slack) {
      std::memcpy(out_, s, slack);
      out_ += n;
    } else {
      put(s, n);
    }
  }

  bool writeMap(std::uint32_t mapNode) {
    const auto& nodes = map_.nodes_;
    if (!ensure(2)) return false;
    *out_++ = '{';
    std::size_t skip = 1;  // no comma before the first entry
    for (std::uint32_t e = nodes[mapNode].a; e != none; e = nodes[e].next) {
      const Fragment& fragment = fragments_[nodes[e].key];
      if (fragment.size == 0) return false;  // a key that is not UTF-8
      if (!ensure(fragment.size + 8)) return false;
      putShort(fragment.bytes.data() + skip, fragment.size - skip);
      skip = 0;
      if (!writeValue(nodes[e])) return false;
    }
    if (!ensure(1)) return false;
    *out_++ = '}';
    return true;
  }

  bool writeText(const Node& n) {
    const auto* all = reinterpret_cast<const unsigned char*>(map_.bytes_.data());
    return writeString(all + n.a, n.b, all + map_.bytes_.size());
  }

  bool writeValue(const Node& n) {
    const auto& nodes = map_.nodes_;
    switch (n.kind) {
      case NodeKind::text:
        return writeText(n);
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
          const bool ok = n.kind == NodeKind::textList ? writeText(nodes[e]) : writeMap(e);
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

  // Writes [s, s + length) as a JSON string. Bytes up to `readable` (at or
  // after the text's end) may be read, so that the text is taken in whole
  // words; bytes past its end are never written out.
  bool writeString(const unsigned char* s, std::size_t length, const unsigned char* readable) {
    // Room for the worst case, every byte a six-character escape.
    if (!ensure(length * 6 + 2)) return false;
    const auto* const end = s + length;
    // A local cursor: stores through a char pointer could alias the member,
    // which would keep the compiler from holding it in a register.
    char* o = out_;
    *o++ = '"';
    while (s < end) {
      if (readable - s >= 8) {
        // Store the whole word, then keep its bytes up to the first one that
        // needs a look, or up to the text's end.
        const std::uint64_t w = loadWord(s);
        const auto left = static_cast<std::size_t>(end - s);
        std::uint64_t look = needsLook(w);
        if (left < 8) look |= markAt(left);
        std::memcpy(o, &w, 8);
        if (look == 0) {
          o += 8;
          s += 8;
          continue;
        }
        const unsigned plain = firstMarked(look);
        o += plain;
        s += plain;
        if (s >= end) break;
      }
      if (!writeSpecial(s, end, o)) return false;
    }
    *o++ = '"';
    out_ = o;
    return true;
  }

  // Writes the character at s, which may need escaping or validation, and
  // moves s and o past it. False when it is not valid UTF-8.
  static bool writeSpecial(const unsigned char*& s, const unsigned char* end, char*& o) {
    const unsigned char c = *s;
    if (c >= 0x80) {
      // Scripts without spaces come as long runs of multibyte characters:
      // take the whole run here rather than one character per word.
      do {
        const std::size_t n = multibyteLength(s, end);
        if (n == 0) return false;
        for (std::size_t i = 0; i < n; ++i) o[i] = static_cast<char>(s[i]);
        o += n;
        s += n;
      } while (s < end && *s >= 0x80);
    } else if (c < 0x20 || c == '"' || c == '\\' || c == '/') {
      const char e = escapeFor(c);
      o[0] = '\\';
      o[1] = e;
      if (e == 'u') {
        static constexpr char hex[] = "0123456789abcdef";
        o[2] = '0';
        o[3] = '0';
        o[4] = hex[c >> 4];
        o[5] = hex[c & 0xF];
        o += 6;
      } else {
        o += 2;
      }
      ++s;
    } else {
      *o++ = static_cast<char>(c);
      ++s;
    }
    return true;
  }

  const ResultMap& map_;
  JsonText& text_;
  std::vector<Fragment> fragments_;
  char* out_ = nullptr;
  char* limit_ = nullptr;
};

bool writeJson(const ResultMap& map, JsonText& text) {
  return JsonWriter(map, text).write();
}

}  // namespace pimbridge::answer
