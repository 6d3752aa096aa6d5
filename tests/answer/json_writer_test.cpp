// The JSON writer: writing rules, strict UTF-8 validation, and structure.
#include "answer/json_writer.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

namespace pimbridge::answer {
namespace {

std::optional<std::string> written(const ResultMap& map) {
  JsonText text;
  if (!writeJson(map, text)) return std::nullopt;
  return std::string(text.view());
}

std::optional<std::string> textValue(std::string_view text) {
  ResultMap map;
  map.setText("t", text);
  return written(map);
}

struct TextCase {
  std::string name;
  friend void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }
  std::string input;
  std::string output;  // the whole JSON text
};

class Texts : public testing::TestWithParam<TextCase> {};

// Show how each character is written: escapes, "\/", raw UTF-8.
TEST_P(Texts, WrittenByTheRules) {
  EXPECT_EQ(textValue(GetParam().input), GetParam().output);
}

std::string wrap(const std::string& inner) {
  return "{\"t\":\"" + inner + "\"}";
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Texts,
    testing::Values(TextCase{"Empty", "", wrap("")}, TextCase{"Plain", "hello world", wrap("hello world")},
                    TextCase{"Slash", "a/b//c", wrap("a\\/b\\/\\/c")},
                    TextCase{"Quote", "say \"hi\"", wrap("say \\\"hi\\\"")},
                    TextCase{"Backslash", "C:\\dir", wrap("C:\\\\dir")},
                    TextCase{"ShortEscapes", "\b\f\n\r\t", wrap("\\b\\f\\n\\r\\t")},
                    TextCase{"Nul", std::string("a\0b", 3), wrap("a\\u0000b")},
                    TextCase{"OtherControls", "\x01\x1f\x0b", wrap("\\u0001\\u001f\\u000b")},
                    TextCase{"DeleteIsRaw", "\x7f", wrap("\x7f")},
                    TextCase{"TwoByte", "caf\xC3\xA9", wrap("caf\xC3\xA9")},
                    TextCase{"ThreeByte", "\xE6\x97\xA5\xE6\x9C\xAC", wrap("\xE6\x97\xA5\xE6\x9C\xAC")},
                    TextCase{"LineSeparatorIsRaw", "\xE2\x80\xA8", wrap("\xE2\x80\xA8")},
                    TextCase{"FourByte", "\xF0\x9F\x98\x80", wrap("\xF0\x9F\x98\x80")},
                    TextCase{"HighestCodePoint", "\xF4\x8F\xBF\xBF", wrap("\xF4\x8F\xBF\xBF")},
                    TextCase{"LongPlainRun", std::string(100, 'x') + "/" + std::string(13, 'y'),
                             wrap(std::string(100, 'x') + "\\/" + std::string(13, 'y'))},
                    TextCase{"EscapeAtEveryOffset", "1234567\"123456789/", wrap("1234567\\\"123456789\\/")},
                    TextCase{"MixedWithinAWord",
                             "ab\xC3\xA9"
                             "cdefgh\n",
                             wrap("ab\xC3\xA9"
                                  "cdefgh\\n")}),
    [](const auto& info) { return info.param.name; });

class InvalidUtf8 : public testing::TestWithParam<std::pair<const char*, std::string>> {};

// Show that every kind of invalid UTF-8 leaves the map without JSON text,
// wherever in a text and wherever in the map it stands.
TEST_P(InvalidUtf8, HasNoJsonText) {
  const std::string bad = GetParam().second;
  EXPECT_FALSE(isValidUtf8(bad));
  EXPECT_EQ(textValue(bad), std::nullopt);
  EXPECT_EQ(textValue("plain text before it " + bad), std::nullopt);
  EXPECT_EQ(textValue(bad + " and after it, long enough for a fast path"), std::nullopt);

  ResultMap inList;
  const auto rows = inList.setMapList("rows");
  inList.setText(inList.appendMap(rows), "fine", "ok");
  inList.appendText(inList.setTextList(inList.appendMap(rows), "phones"), bad);
  EXPECT_EQ(written(inList), std::nullopt);

  ResultMap asKey;
  asKey.setText(bad, "value");
  EXPECT_EQ(written(asKey), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Kinds, InvalidUtf8,
                         testing::Values(std::pair{"StrayContinuation", std::string("\x80")},
                                         std::pair{"ContinuationRun", std::string("\xBF\xBF")},
                                         std::pair{"OverlongTwoByte", std::string("\xC0\xAF")},
                                         std::pair{"OverlongC1", std::string("\xC1\xBF")},
                                         std::pair{"OverlongThreeByte", std::string("\xE0\x80\xAF")},
                                         std::pair{"OverlongFourByte", std::string("\xF0\x8F\xBF\xBF")},
                                         std::pair{"SurrogateLow", std::string("\xED\xA0\x80")},
                                         std::pair{"SurrogateHigh", std::string("\xED\xBF\xBF")},
                                         std::pair{"AboveMaximum", std::string("\xF4\x90\x80\x80")},
                                         std::pair{"LeadF5", std::string("\xF5\x80\x80\x80")},
                                         std::pair{"LeadFF", std::string("\xFF")},
                                         std::pair{"TruncatedTwo", std::string("\xC3")},
                                         std::pair{"TruncatedThree", std::string("\xE6\x97")},
                                         std::pair{"TruncatedFour", std::string("\xF0\x9F\x98")},
                                         std::pair{"LeadThenAscii", std::string("\xC3"
                                                                                "A")},
                                         std::pair{"FourByteBadTail", std::string("\xF0\x9F\x98\x41")}),
                         [](const auto& info) { return info.param.first; });

// Show the structure: compact, every kind, empty lists, nested lists of maps.
TEST(Structure, EveryKindCompact) {
  ResultMap map;
  map.setText("text", "v");
  map.setBoolean("yes", true);
  map.setBoolean("no", false);
  map.setNull("none");
  map.setTextList("empty");
  const auto phones = map.setTextList("phones");
  map.appendText(phones, "1");
  map.appendText(phones, "2");
  map.setMapList("rows");
  const auto outer = map.setMapList("nested");
  const auto row = map.appendMap(outer);
  const auto inner = map.setMapList(row, "inner");
  map.setNull(map.appendMap(inner), "deep");
  map.appendMap(inner);
  map.appendMap(outer);
  const auto text = written(map);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, R"({"text":"v","yes":true,"no":false,"none":null,"empty":[],"phones":["1","2"],"rows":[],)"
                   R"("nested":[{"inner":[{"deep":null},{}]},{}]})");
}

TEST(Structure, EmptyMapAndErrorWord) {
  EXPECT_EQ(written(ResultMap()), "{}");
  ResultMap error;
  error.setText("error", "permission_required");
  EXPECT_EQ(written(error), R"({"error":"permission_required"})");
}

// Show that setting a key twice keeps one entry with the last value, so the
// output never holds a key twice.
TEST(Structure, KeysStayDistinct) {
  ResultMap map;
  map.setText("k", "first");
  map.setBoolean("other", true);
  map.setNull("k");
  const auto rows = map.setMapList("rows");
  const auto row = map.appendMap(rows);
  map.setText(row, "k", "a");
  map.setText(row, "k", "b");
  EXPECT_EQ(written(map), R"({"k":null,"other":true,"rows":[{"k":"b"}]})");
}

struct NeighbourCase {
  std::string name;
  friend void PrintTo(const NeighbourCase& c, std::ostream* os) { *os << c.name; }
  std::string first;
  std::string following;
  std::optional<std::string> output;  // none: no JSON text
};

class Neighbours : public testing::TestWithParam<NeighbourCase> {};

// Show that a text is judged by its own bytes only: the bytes stored after it
// in the result (here a replaced value's, which is never written) neither
// complete its last character nor show up in its place, wherever its end falls
// in a word.
TEST_P(Neighbours, TextEndsWhereItEnds) {
  ResultMap map;
  map.setText("a", GetParam().first);
  map.setText("b", GetParam().following);
  map.setText("b", "ok");
  EXPECT_EQ(written(map), GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, Neighbours,
    testing::Values(NeighbourCase{"TwoByteCutByItsEnd", "abc\xC3", "\xA9xyz", std::nullopt},
                    NeighbourCase{"ThreeByteCutAtWordEnd", "abcdefg\xE6\x97", "\xA5 more text", std::nullopt},
                    NeighbourCase{"FourByteCutAtStart", "\xF0\x9F\x98", "\x80 and a long enough tail", std::nullopt},
                    NeighbourCase{"MultibyteRunEndsAtItsEnd", "\xE6\x97\xA5\xE6\x9C\xAC", "\xE6\x97\xA5 next",
                                  R"({"a":")"
                                  "\xE6\x97\xA5\xE6\x9C\xAC"
                                  R"(","b":"ok"})"},
                    NeighbourCase{"PlainAfterPlain", "abc", "defghijk", R"({"a":"abc","b":"ok"})"},
                    NeighbourCase{"EscapesAfterPlain", "plain", "/\"\\\n\x01", R"({"a":"plain","b":"ok"})"},
                    NeighbourCase{"EndOnWordBoundary", "12345678", "9/abcdefgh", R"({"a":"12345678","b":"ok"})"},
                    NeighbourCase{"InvalidAfterValid", "caf\xC3\xA9", "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF",
                                  R"({"a":"caf)"
                                  "\xC3\xA9"
                                  R"(","b":"ok"})"}),
    [](const auto& info) { return info.param.name; });

// Show that keys of every length, and keys that need escapes, are written
// whole, first in a map and after other entries.
TEST(Structure, KeysOfEveryLength) {
  ResultMap map;
  const auto rows = map.setMapList("rows");
  const auto all = map.appendMap(rows);
  std::string expected = R"({"rows":[{)";
  for (std::size_t length = 1; length <= 40; ++length) {
    const std::string key(length, 'k');
    map.setNull(all, key);
    expected += (length > 1 ? ",\"" : "\"") + key + "\":null";
  }
  expected += "}";
  for (std::size_t length = 1; length <= 40; ++length) {
    const std::string key(length, 'k');
    map.setBoolean(map.appendMap(rows), key, true);
    expected += ",{\"" + key + "\":true}";
  }
  const auto escaped = map.appendMap(rows);
  map.setNull(escaped, "n");
  map.setBoolean(escaped, "k/\"ey\xC3\xA9", true);
  expected += R"(,{"n":null,"k\/\"ey)"
              "\xC3\xA9"
              R"(":true}]})";
  EXPECT_EQ(written(map), expected);
}

// Show that a large result written by the fast path parses back to exactly
// what went in.
TEST(Structure, LargeResultRoundTrips) {
  ResultMap map;
  const auto rows = map.setMapList("reminders");
  nlohmann::json expected = nlohmann::json::array();
  for (int i = 0; i < 2000; ++i) {
    const std::string id = "x-apple-reminder://" + std::to_string(i * 7919);
    const std::string title = i % 3 == 0 ? "Caf\xC3\xA9 \"" + std::to_string(i) + "\"\t\xF0\x9F\x98\x80" : "plain";
    const auto row = map.appendMap(rows);
    map.setText(row, "id", id);
    map.setText(row, "title", title);
    map.setBoolean(row, "completed", i % 2 == 0);
    expected.push_back({{"id", id}, {"title", title}, {"completed", i % 2 == 0}});
  }
  const auto text = written(map);
  ASSERT_TRUE(text);
  EXPECT_EQ(nlohmann::json::parse(*text), (nlohmann::json{{"reminders", expected}}));
}

}  // namespace
}  // namespace pimbridge::answer
