// The text conversion of the macOS layer: UTF-16 code units to bytes and back.
#include "platform/apple/utf16.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace pimbridge::apple {
namespace {

std::string bytesOf(const std::u16string& units) {
  return utf8FromUtf16(units.data(), units.size());
}

struct Utf16Case {
  const char* what;
  std::u16string units;
  std::string bytes;
};

TEST(Utf16, UnitsBecomeTheirBytes) {
  const std::vector<Utf16Case> cases = {
      {"empty", u"", ""},
      {"ASCII", u"Milk & eggs", "Milk & eggs"},
      {"two-byte letters", u"Gr\u00FC\u00DFe",
       "Gr\xC3\xBC\xC3\x9F"
       "e"},
      {"three-byte BMP characters", u"\u65E5\u672C", "\xE6\x97\xA5\xE6\x9C\xAC"},
      {"last BMP character", u"\uFFFF", "\xEF\xBF\xBF"},
      {"astral character from a pair", u"a\U0001F600b",
       "a\xF0\x9F\x98\x80"
       "b"},
      {"last code point", u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
      {"embedded NUL", std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
      {"lone high surrogate", {u'x', char16_t(0xD83D), u'y'}, "x\xED\xA0\xBDy"},
      {"lone low surrogate", {char16_t(0xDE00)}, "\xED\xB8\x80"},
      {"high surrogate at the end", {u'x', char16_t(0xDBFF)}, "x\xED\xAF\xBF"},
      {"low before high is not a pair", {char16_t(0xDE00), char16_t(0xD83D)}, "\xED\xB8\x80\xED\xA0\xBD"},
      {"two highs then a low: first lone, then a pair",
       {char16_t(0xD83D), char16_t(0xD83D), char16_t(0xDE00)},
       "\xED\xA0\xBD\xF0\x9F\x98\x80"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(bytesOf(c.units), c.bytes) << c.what;
    EXPECT_EQ(utf16FromUtf8(c.bytes), c.units) << c.what;
  }
}

TEST(Utf16, BytesNotFromTheConversionBecomeReplacementCharacters) {
  const std::vector<std::pair<std::string, std::u16string>> cases = {
      {"\x80", u"\uFFFD"},                                // continuation without a lead
      {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong '/'
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},            // overlong three-byte form
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"a\xE6\x97", u"a\uFFFD\uFFFD"},                    // cut-off sequence
      {"\xFF"
       "b",
       u"\uFFFD"
       "b"},
  };
  for (const auto& [bytes, units] : cases) EXPECT_EQ(utf16FromUtf8(bytes), units);
}

// Show that any sequence of code units, surrogates included, comes back
// unchanged, so identifiers taken from the platform can be handed back to it.
TEST(Utf16, EveryUnitSequenceRoundTrips) {
  std::mt19937 random(20240305);
  // Mostly surrogates and boundaries, where conversions go wrong.
  const std::vector<char16_t> interesting = {0x0000, 0x007F, 0x0080, 0x07FF, 0x0800, 0xD7FF, 0xD800,
                                             0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFFFD, 0xFFFF, u'a'};
  std::uniform_int_distribution<std::size_t> length(0, 12);
  std::uniform_int_distribution<std::size_t> pick(0, interesting.size() - 1);
  for (int run = 0; run < 20000; ++run) {
    std::u16string units(length(random), u'\0');
    for (auto& unit : units) unit = interesting[pick(random)];
    ASSERT_EQ(utf16FromUtf8(bytesOf(units)), units) << "run " << run;
  }
}

}  // namespace
}  // namespace pimbridge::apple
