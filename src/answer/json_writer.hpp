// The JSON writer: turns a result map into one compact JSON text in memory.
//
// Texts are written with "/" as "\/", the quotation mark, the reverse solidus
// and U+0000 to U+001F escaped, and every other character as raw UTF-8. Texts
// are validated as strict UTF-8 on the way: a result holding any other bytes
// has no JSON text.
#pragma once

#include <cstddef>
#include <string_view>

#include "answer/result_map.hpp"

namespace pimbridge::answer {

// A growable byte buffer that does not zero what it reserves.
class JsonText {
 public:
  JsonText() = default;
  JsonText(const JsonText&) = delete;
  JsonText& operator=(const JsonText&) = delete;
  JsonText(JsonText&& other) noexcept;
  JsonText& operator=(JsonText&& other) noexcept;
  ~JsonText();

  const char* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::string_view view() const { return {data_, size_}; }

  // False when memory ran out.
  bool append(char c);

 private:
  friend class JsonWriter;
  bool reserve(std::size_t capacity);

  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// Writes the map into text (replacing what it held). False when the map
// holds a text that is not valid UTF-8, cannot be written, or memory ran out;
// the text is then unspecified.
bool writeJson(const ResultMap& map, JsonText& text);

// The length of the valid UTF-8 sequence at the start of [p, end), or 0 when
// it is not one: overlong forms, surrogates, code points above U+10FFFF, stray
// continuation bytes and truncated sequences are all invalid.
std::size_t utf8SequenceLength(const unsigned char* p, const unsigned char* end);

// True when all of the bytes are valid UTF-8.
bool isValidUtf8(std::string_view bytes);

}  // namespace pimbridge::answer
