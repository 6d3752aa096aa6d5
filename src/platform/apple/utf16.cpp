// UTF-16 code units to and from the tool's byte strings.
#include "platform/apple/utf16.hpp"

namespace pimbridge::apple {
namespace {

bool isHighSurrogate(char32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isLowSurrogate(char32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

void appendUtf8(std::string& out, char32_t codePoint) {
  auto byte = [&out](char32_t value) { out.push_back(static_cast<char>(value)); };
  if (codePoint < 0x80) {
    byte(codePoint);
  } else if (codePoint < 0x800) {
    byte(0xC0 | (codePoint >> 6));
    byte(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    byte(0xE0 | (codePoint >> 12));
    byte(0x80 | ((codePoint >> 6) & 0x3F));
    byte(0x80 | (codePoint & 0x3F));
  } else {
    byte(0xF0 | (codePoint >> 18));
    byte(0x80 | ((codePoint >> 12) & 0x3F));
    byte(0x80 | ((codePoint >> 6) & 0x3F));
    byte(0x80 | (codePoint & 0x3F));
  }
}

void appendUtf16(std::u16string& out, char32_t codePoint) {
  if (codePoint < 0x10000) {
    out.push_back(static_cast<char16_t>(codePoint));
  } else {
    codePoint -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
  }
}

}  // namespace

std::string utf8FromUtf16(const char16_t* units, std::size_t count) {
  std::string out;
  out.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const char32_t unit = units[i];
    if (isHighSurrogate(unit) && i + 1 < count && isLowSurrogate(units[i + 1])) {
      const char32_t low = units[++i];
      appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
    } else {
      // A lone surrogate takes this path too and keeps its own value.
      appendUtf8(out, unit);
    }
  }
  return out;
}

std::u16string utf16FromUtf8(const std::string& bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  const std::size_t size = bytes.size();
  auto at = [&bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  auto continuation = [&](std::size_t i) { return i < size && (at(i) & 0xC0) == 0x80; };

  std::size_t i = 0;
  while (i < size) {
    const unsigned char lead = at(i);
    // The allowed range of the second byte rules out overlong forms and code
    // points above U+10FFFF. Surrogate values (ED A0..BF) are accepted on
    // purpose: they are how utf8FromUtf16 writes a lone surrogate.
    std::size_t length = 0;
    unsigned char secondMin = 0x80;
    unsigned char secondMax = 0xBF;
    char32_t codePoint = 0;
    if (lead < 0x80) {
      length = 1;
      codePoint = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      codePoint = lead & 0x0F;
      if (lead == 0xE0) secondMin = 0xA0;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      codePoint = lead & 0x07;
      if (lead == 0xF0) secondMin = 0x90;
      if (lead == 0xF4) secondMax = 0x8F;
    }

    bool wellFormed = length > 0;
    if (wellFormed && length > 1) {
      wellFormed = continuation(i + 1) && at(i + 1) >= secondMin && at(i + 1) <= secondMax;
      for (std::size_t k = 2; wellFormed && k < length; ++k) wellFormed = continuation(i + k);
    }
    if (!wellFormed) {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    for (std::size_t k = 1; k < length; ++k) codePoint = (codePoint << 6) | (at(i + k) & 0x3F);
    appendUtf16(out, codePoint);
    i += length;
  }
  return out;
}

}  // namespace pimbridge::apple
