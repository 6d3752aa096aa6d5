// A plain UTF-8 decoder written from the definition of the encoding, for the
// fuzz targets to judge the tool's validator and writer against. It decodes
// each code point bit by bit and judges it afterwards, rather than by ranges
// of lead and second bytes as the tool does, so that the two share no
// reasoning.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pimbridge::fuzz {

// The length of the well-formed sequence at the start of [p, end), or 0.
inline std::size_t referenceSequenceLength(const unsigned char* p, const unsigned char* end) {
  const unsigned char lead = p[0];
  std::size_t length = 0;
  std::uint32_t codePoint = 0;
  if ((lead & 0x80) == 0x00) {
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2;
    codePoint = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    codePoint = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    codePoint = lead & 0x07;
  } else {
    return 0;  // a continuation byte without a lead, or F8 to FF
  }
  if (static_cast<std::size_t>(end - p) < length) return 0;  // truncated
  for (std::size_t i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    codePoint = (codePoint << 6) | (p[i] & 0x3F);
  }
  // The smallest code point that needs each length; anything below is overlong.
  constexpr std::uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
  if (codePoint < minimum[length]) return 0;
  if (codePoint >= 0xD800 && codePoint <= 0xDFFF) return 0;  // surrogates
  if (codePoint > 0x10FFFF) return 0;
  return length;
}

inline bool referenceValid(const unsigned char* p, const unsigned char* end) {
  while (p < end) {
    const std::size_t n = referenceSequenceLength(p, end);
    if (n == 0) return false;
    p += n;
  }
  return true;
}

inline bool referenceValid(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  return referenceValid(p, p + bytes.size());
}

}  // namespace pimbridge::fuzz
