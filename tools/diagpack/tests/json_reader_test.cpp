#include "config/json_reader.hpp"

#include <gtest/gtest.h>
#include <signal.h>  // raise, sigaction

#include <cstdint>
#include <string>
#include <vector>

#include "sys/signals.hpp"  // InterruptWatch, kInterruptPollBytes

namespace diagpack {
namespace {

using namespace std::string_literals;

constexpr std::string_view kPath[] = {"logging", "log_file"};

// "ok", or the error's display text, which the search must give alike.
std::string outcome(const std::string& text) {
  Result<JsonValue> parsed = parse_json(text);
  auto found = find_json_string(text, kPath);
  EXPECT_EQ(found ? "ok" : found.error().text(),
            parsed ? "ok" : parsed.error().text());
  EXPECT_EQ(found ? ErrorKind::Other : found.error().kind(),
            parsed ? ErrorKind::Other : parsed.error().kind());
  return parsed ? "ok" : parsed.error().text();
}

struct Case {
  std::string text;
  std::string expected;  // display text of the error
};

void expect_errors(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(outcome(c.text), c.expected) << "input: " << c.text;
  }
}

TEST(JsonReaderPosition, WorkedExamples) {
  expect_errors({
      {"", "EOF while parsing a value at line 1 column 0"},
      {"\n", "EOF while parsing a value at line 2 column 0"},
      {"{}{}", "trailing characters at line 1 column 3"},
      {std::string(128, '['), "recursion limit exceeded at line 1 column 128"},
      {"\xEF\xBB\xBF{}", "expected value at line 1 column 1"},
  });
}

TEST(JsonReaderPosition, LinesCountLineFeedsAndColumnsCountBytes) {
  expect_errors({
      {" \t\r\n  ", "EOF while parsing a value at line 2 column 2"},
      {"{\n  \"a\": 1,\n  \"b\" 2\n}", "expected `:` at line 3 column 7"},
      {"[\n\n\n", "EOF while parsing a list at line 4 column 0"},
      // Columns count bytes, not characters: "é" is two.
      {"[\"\xC3\xA9\" x]", "expected `,` or `]` at line 1 column 7"},
      {"\r\r}", "expected value at line 1 column 3"},
      {"{}\n}", "trailing characters at line 2 column 1"},
      {"\n" + std::string(128, '['),
       "recursion limit exceeded at line 2 column 128"},
  });
}

TEST(JsonReaderErrors, EndOfText) {
  expect_errors({
      {"[1,", "EOF while parsing a value at line 1 column 3"},
      {"[1, ", "EOF while parsing a value at line 1 column 4"},
      {"{\"a\":", "EOF while parsing a value at line 1 column 5"},
      {"{\"a\":1,", "EOF while parsing a value at line 1 column 7"},
      {"tru", "EOF while parsing a value at line 1 column 3"},
      {"fals", "EOF while parsing a value at line 1 column 4"},
      {"n", "EOF while parsing a value at line 1 column 1"},
      {"-", "EOF while parsing a value at line 1 column 1"},
      {"[-", "EOF while parsing a value at line 1 column 2"},
      {"1.", "EOF while parsing a value at line 1 column 2"},
      {"1e", "EOF while parsing a value at line 1 column 2"},
      {"1.5E-", "EOF while parsing a value at line 1 column 5"},
      {"[", "EOF while parsing a list at line 1 column 1"},
      {"[1", "EOF while parsing a list at line 1 column 2"},
      {"[[]\n", "EOF while parsing a list at line 2 column 0"},
      {"[\"a\"", "EOF while parsing a list at line 1 column 4"},
      {"{", "EOF while parsing an object at line 1 column 1"},
      {"{\"a\"", "EOF while parsing an object at line 1 column 4"},
      {"{\"a\" ", "EOF while parsing an object at line 1 column 5"},
      {"{\"a\":1", "EOF while parsing an object at line 1 column 6"},
      {"{\"a\":{}", "EOF while parsing an object at line 1 column 7"},
      {"\"abc", "EOF while parsing a string at line 1 column 4"},
      {"{\"a", "EOF while parsing a string at line 1 column 3"},
      {"\"\\", "EOF while parsing a string at line 1 column 2"},
      {"\"\\u12", "EOF while parsing a string at line 1 column 5"},
      {"\"\\uD800", "EOF while parsing a string at line 1 column 7"},
      {"\"\\uD800\\", "EOF while parsing a string at line 1 column 8"},
      {"\"\\uD800\\u", "EOF while parsing a string at line 1 column 9"},
  });
}

TEST(JsonReaderErrors, StructureFaultsStopPastTheOffendingByte) {
  expect_errors({
      {"}", "expected value at line 1 column 1"},
      {",", "expected value at line 1 column 1"},
      {"'a'", "expected value at line 1 column 1"},
      {"[}", "expected value at line 1 column 2"},
      {"[,1]", "expected value at line 1 column 2"},
      {"[1,,2]", "expected value at line 1 column 4"},
      {"{\"a\":}", "expected value at line 1 column 6"},
      {"trux", "expected ident at line 1 column 4"},
      {"tRue", "expected ident at line 1 column 2"},
      {"nulL", "expected ident at line 1 column 4"},
      {"[fal]", "expected ident at line 1 column 5"},
      {"{\"a\" 1}", "expected `:` at line 1 column 6"},
      {"{\"a\",1}", "expected `:` at line 1 column 5"},
      {"{\"a\"}", "expected `:` at line 1 column 5"},
      {"[1 2]", "expected `,` or `]` at line 1 column 4"},
      {"[1}", "expected `,` or `]` at line 1 column 3"},
      {"[\"a\" \"b\"]", "expected `,` or `]` at line 1 column 6"},
      {"[0x]", "expected `,` or `]` at line 1 column 3"},
      {"{\"a\":1 \"b\":2}", "expected `,` or `}` at line 1 column 8"},
      {"{\"a\":1]", "expected `,` or `}` at line 1 column 7"},
      {"{1:2}", "key must be a string at line 1 column 2"},
      {"{a:1}", "key must be a string at line 1 column 2"},
      {"{'a':1}", "key must be a string at line 1 column 2"},
      {"{,}", "key must be a string at line 1 column 2"},
      {"{\"a\":1,,}", "key must be a string at line 1 column 8"},
      {"[1,]", "trailing comma at line 1 column 4"},
      {"[1,\n]", "trailing comma at line 2 column 1"},
      {"{\"a\":1,}", "trailing comma at line 1 column 8"},
      {"{\"a\":1, }", "trailing comma at line 1 column 9"},
      {"1 2", "trailing characters at line 1 column 3"},
      {"[] x", "trailing characters at line 1 column 4"},
      {"nullx", "trailing characters at line 1 column 5"},
      {"\"a\"\"b\"", "trailing characters at line 1 column 4"},
      {"0x", "trailing characters at line 1 column 2"},
      {"1.5.3", "trailing characters at line 1 column 4"},
      {"{}\0"s, "trailing characters at line 1 column 3"},
      {"{} \xEF\xBB\xBF", "trailing characters at line 1 column 4"},
      // Only space, tab, line feed and carriage return are whitespace.
      {"\f{}", "expected value at line 1 column 1"},
      {"\v{}", "expected value at line 1 column 1"},
      {"\xC2\xA0{}", "expected value at line 1 column 1"},
      {"{}\f", "trailing characters at line 1 column 3"},
      {"[1,\xC2\xA0"
       "2]",
       "expected value at line 1 column 4"},
      // No comments.
      {"/* c */ {}", "expected value at line 1 column 1"},
      {"{} // c", "trailing characters at line 1 column 4"},
  });
}

TEST(JsonReaderErrors, Numbers) {
  expect_errors({
      {"-x", "invalid number at line 1 column 2"},
      {"- 1", "invalid number at line 1 column 2"},
      {"[-]", "invalid number at line 1 column 3"},
      {"-Infinity", "invalid number at line 1 column 2"},
      {"01", "invalid number at line 1 column 2"},
      {"00", "invalid number at line 1 column 2"},
      {"-01", "invalid number at line 1 column 3"},
      {"1.x", "invalid number at line 1 column 3"},
      {"1.e5", "invalid number at line 1 column 3"},
      {"[1.]", "invalid number at line 1 column 4"},
      {"1ex", "invalid number at line 1 column 3"},
      {"1e+x", "invalid number at line 1 column 4"},
      {"1e+]", "invalid number at line 1 column 4"},
      {"1e400", "number out of range at line 1 column 5"},
      {"-1e400", "number out of range at line 1 column 6"},
      {"[1e309]", "number out of range at line 1 column 6"},
      {"1.8e308", "number out of range at line 1 column 7"},
      {"0.0000001e316", "number out of range at line 1 column 13"},
      {"1e99999999999999999999999", "number out of range at line 1 column 25"},
      {"1" + std::string(400, '0'), "number out of range at line 1 column 401"},
      {"-1" + std::string(400, '0'),
       "number out of range at line 1 column 402"},
      {"+1", "expected value at line 1 column 1"},
      {".5", "expected value at line 1 column 1"},
      {"NaN", "expected value at line 1 column 1"},
      {"Infinity", "expected value at line 1 column 1"},
  });
}

TEST(JsonReaderErrors, Strings) {
  expect_errors({
      {"\"\\x\"", "invalid escape at line 1 column 3"},
      {"\"\\U0041\"", "invalid escape at line 1 column 3"},
      {"\"\\'\"", "invalid escape at line 1 column 3"},
      {"\"\\u12G4\"", "invalid escape at line 1 column 6"},
      {"\"\\u-123\"", "invalid escape at line 1 column 4"},
      {"\"\\\n\"", "invalid escape at line 2 column 0"},
      {"\"a\nb\"",
       "control character (\\u0000-\\u001F) found while parsing a string at "
       "line 2 column 0"},
      {"\"\t\"",
       "control character (\\u0000-\\u001F) found while parsing a string at "
       "line 1 column 2"},
      {"\"\0\""s,
       "control character (\\u0000-\\u001F) found while parsing a string at "
       "line 1 column 2"},
      {"\"\x1F\"",
       "control character (\\u0000-\\u001F) found while parsing a string at "
       "line 1 column 2"},
      {"{\"a\rb\":1}",
       "control character (\\u0000-\\u001F) found while parsing a string at "
       "line 1 column 4"},
      {"\"\\uDC00\"",
       "lone leading surrogate in hex escape at line 1 column 7"},
      {"\"\\uDFFF\"",
       "lone leading surrogate in hex escape at line 1 column 7"},
      {"\"\\uD800\\u0041\"",
       "lone leading surrogate in hex escape at line 1 column 13"},
      {"\"\\uD800\\uD800\"",
       "lone leading surrogate in hex escape at line 1 column 13"},
      {"\"\\uD800\\uE000\"",
       "lone leading surrogate in hex escape at line 1 column 13"},
      {"\"\\uD800\\uDBFF\"",
       "lone leading surrogate in hex escape at line 1 column 13"},
      {"\"\\uD800\"", "unexpected end of hex escape at line 1 column 8"},
      {"\"\\uDBFFx\"", "unexpected end of hex escape at line 1 column 8"},
      {"\"\\uD800\\n\"", "unexpected end of hex escape at line 1 column 9"},
      {"\"\\uD800\\uD", "EOF while parsing a string at line 1 column 10"},
      {"\"\\uD800\\uDCxx\"", "invalid escape at line 1 column 12"},
  });
}

TEST(JsonReaderErrors, KindIsUnexpectedEofOnlyForEofMessages) {
  EXPECT_EQ(parse_json("[").error().kind(), ErrorKind::UnexpectedEof);
  EXPECT_EQ(parse_json("{").error().kind(), ErrorKind::UnexpectedEof);
  EXPECT_EQ(parse_json("\"").error().kind(), ErrorKind::UnexpectedEof);
  EXPECT_EQ(parse_json(" ").error().kind(), ErrorKind::UnexpectedEof);
  EXPECT_EQ(parse_json("[1,]").error().kind(), ErrorKind::InvalidData);
  EXPECT_EQ(parse_json("1e400").error().kind(), ErrorKind::InvalidData);
  EXPECT_EQ(parse_json(std::string(128, '[')).error().kind(),
            ErrorKind::InvalidData);
}

// Builds |depth| levels, alternating arrays and objects, around a 1.
std::string nested(int depth) {
  std::string open, close;
  for (int i = 0; i < depth; ++i) {
    open += i % 2 == 0 ? "[" : "{\"k\":";
    close.insert(0, i % 2 == 0 ? "]" : "}");
  }
  return open + "1" + close;
}

TEST(JsonReaderNesting, LimitIs127LevelsOfArraysAndObjectsTogether) {
  EXPECT_EQ(outcome(std::string(127, '[') + std::string(127, ']')), "ok");
  EXPECT_EQ(outcome(nested(127)), "ok");
  // 64 arrays and 63 objects (64 + 63 * 5 bytes) before the 128th opener.
  EXPECT_EQ(outcome(nested(128)),
            "recursion limit exceeded at line 1 column 380");
  std::string objects;
  for (int i = 0; i < 127; ++i) objects += "{\"a\":";
  EXPECT_EQ(outcome(objects + "{"),
            "recursion limit exceeded at line 1 column 636");
  // The limit is on depth, not on the number of containers.
  std::string siblings = "[";
  for (int i = 0; i < 1000; ++i) siblings += "[[]],";
  EXPECT_EQ(outcome(siblings + "[]]"), "ok");
}

// Parses |text|, which must be valid.
JsonValue parsed(const std::string& text) {
  Result<JsonValue> result = parse_json(text);
  EXPECT_TRUE(result.ok()) << text << ": " << result.error().text();
  return result ? std::move(*result) : JsonValue();
}

TEST(JsonReaderAccepts, LiteralsWhitespaceAndEmptyContainers) {
  EXPECT_TRUE(parsed("null").is_null());
  EXPECT_TRUE(parsed("true").as_bool());
  EXPECT_FALSE(parsed("false").as_bool());
  EXPECT_TRUE(parsed(" \t\r\n{} \t\r\n").is_object());
  EXPECT_TRUE(parsed("[ ]").as_array().empty());
  EXPECT_TRUE(parsed("{\n}").as_object().empty());
  EXPECT_EQ(parsed("[1,[2,[]],{\"a\":null}]").as_array().size(), 3u);
}

TEST(JsonReaderAccepts, IntegersThatFit64BitsStayIntegers) {
  EXPECT_EQ(parsed("0").as_uint64(), 0u);
  EXPECT_EQ(parsed("-0").as_int64(), 0);
  EXPECT_EQ(parsed("123").as_uint64(), 123u);
  EXPECT_EQ(parsed("-1").as_int64(), -1);
  EXPECT_EQ(parsed("18446744073709551615").as_uint64(), UINT64_MAX);
  EXPECT_EQ(parsed("9223372036854775808").as_uint64(), 9223372036854775808u);
  EXPECT_EQ(parsed("-9223372036854775808").as_int64(), INT64_MIN);
  EXPECT_EQ(parsed("-9223372036854775807").as_int64(), -INT64_MAX);
  EXPECT_DOUBLE_EQ(parsed("18446744073709551616").as_double(),
                   18446744073709551616.0);
  EXPECT_DOUBLE_EQ(parsed("-9223372036854775809").as_double(),
                   -9223372036854775808.0);
  EXPECT_DOUBLE_EQ(parsed("1" + std::string(300, '0')).as_double(), 1e300);
}

TEST(JsonReaderAccepts, FractionsAndExponentsAreDoubles) {
  EXPECT_DOUBLE_EQ(parsed("1.0").as_double(), 1.0);
  EXPECT_DOUBLE_EQ(parsed("1e2").as_double(), 100.0);
  EXPECT_DOUBLE_EQ(parsed("1E+2").as_double(), 100.0);
  EXPECT_DOUBLE_EQ(parsed("-1.5e-3").as_double(), -0.0015);
  EXPECT_DOUBLE_EQ(parsed("0.5").as_double(), 0.5);
  EXPECT_DOUBLE_EQ(parsed("0e0").as_double(), 0.0);
  EXPECT_DOUBLE_EQ(parsed("1.7976931348623157e308").as_double(),
                   1.7976931348623157e308);
  EXPECT_DOUBLE_EQ(parsed("0.00000001e316").as_double(), 1e308);
  // Too small for a double becomes zero.
  EXPECT_EQ(parsed("1e-400").as_double(), 0.0);
  EXPECT_EQ(parsed("-1e-400").as_double(), 0.0);
  EXPECT_EQ(parsed("123e-99999999999999999999").as_double(), 0.0);
  EXPECT_EQ(parsed("0." + std::string(400, '0') + "1").as_double(), 0.0);
  EXPECT_EQ(parsed("0e99999").as_double(), 0.0);
  EXPECT_EQ(parsed("[1,-2,3.5]").as_array()[1].as_int64(), -2);
}

TEST(JsonReaderAccepts, StringEscapes) {
  EXPECT_EQ(parsed("\"\"").as_string(), "");
  EXPECT_EQ(parsed(R"("\"\\\/\b\f\n\r\t")").as_string(), "\"\\/\b\f\n\r\t");
  EXPECT_EQ(parsed(R"("\u0041\u00e9\u20AC\uFFFF")").as_string(),
            "A\xC3\xA9\xE2\x82\xAC\xEF\xBF\xBF");
  EXPECT_EQ(parsed(R"("\u0000")").as_string(), "\0"s);
  EXPECT_EQ(parsed(R"("\uD83D\uDE00")").as_string(), "\xF0\x9F\x98\x80");
  EXPECT_EQ(parsed(R"("\ud800\udc00")").as_string(), "\xF0\x90\x80\x80");
  EXPECT_EQ(parsed(R"("\uDBFF\uDFFF")").as_string(), "\xF4\x8F\xBF\xBF");
  EXPECT_EQ(parsed(R"("a\uD83D\uDE00b\n")").as_string(),
            "a\xF0\x9F\x98\x80"
            "b\n");
  // Bytes from 0x20 up, DEL and multi-byte UTF-8 included, are taken as is.
  EXPECT_EQ(parsed("\" \x7F\xC3\xA9\xF0\x9F\x98\x80'\"").as_string(),
            " \x7F\xC3\xA9\xF0\x9F\x98\x80'");
}

TEST(JsonMember, LaterDuplicateWinsAndNamesAreExactBytes) {
  JsonValue doc =
      parsed(R"({"a":1,"b":2,"a":3,"A":4,"":5,"x\u0000y":6,"\u0061a":7})");
  EXPECT_EQ(doc.member("a").as_uint64(), 3u);
  EXPECT_EQ(doc.member("b").as_uint64(), 2u);
  EXPECT_EQ(doc.member("A").as_uint64(), 4u);
  EXPECT_EQ(doc.member("").as_uint64(), 5u);
  EXPECT_EQ(doc.member("x\0y"s).as_uint64(), 6u);
  EXPECT_EQ(doc.member("aa").as_uint64(), 7u);
  EXPECT_TRUE(doc.member("x").is_null());
  EXPECT_TRUE(doc.member("a ").is_null());
  EXPECT_EQ(doc.as_object().size(), 6u);
}

TEST(JsonMember, LookupOnAnythingButAnObjectYieldsNull) {
  for (const char* text :
       {"null", "true", "1", "-1", "1.5", "\"a\"", "[]", "[{\"a\":1}]"}) {
    JsonValue value = parsed(text);
    EXPECT_TRUE(value.member("a").is_null()) << text;
    EXPECT_TRUE(value.member("a").member("b").is_null()) << text;
  }
}

TEST(JsonValueEquality, KindAndContent) {
  EXPECT_EQ(parsed("{\"b\":[1,2],\"a\":\"x\"}"),
            parsed("{\"a\":\"x\",\"b\":[1,2]}"));
  EXPECT_FALSE(parsed("1") == parsed("1.0"));
  EXPECT_FALSE(parsed("0") == parsed("-0"));
  EXPECT_FALSE(parsed("[1]") == parsed("[2]"));
}

TEST(JsonReaderLarge, WideDocumentsParse) {
  std::string many = "{";
  for (int i = 0; i < 20000; ++i) {
    many += "\"k" + std::to_string(i % 5000) + "\":" + std::to_string(i) + ",";
  }
  many += "\"end\":\"" + std::string(100000, 'x') + "\"}";
  JsonValue doc = parsed(many);
  EXPECT_EQ(doc.as_object().size(), 5001u);
  EXPECT_EQ(doc.member("k0").as_uint64(), 15000u);
  EXPECT_EQ(doc.member("k4999").as_uint64(), 19999u);
  EXPECT_EQ(doc.member("end").as_string().size(), 100000u);
}

// A pending stop signal stops the search in any long stretch of text.
TEST(JsonSearch, StopsWhenAStopSignalIsPending) {
  struct sigaction term = {};  // a watch leaves an ignored signal alone
  ASSERT_EQ(::sigaction(SIGTERM, nullptr, &term), 0);
  InterruptWatch watch;
  if (watch.fd() < 0 || term.sa_handler == SIG_IGN)
    GTEST_SKIP() << "SIGTERM is ignored here";
  ASSERT_EQ(::raise(SIGTERM), 0);
  const size_t n = 2 * kInterruptPollBytes;  // each text is valid JSON
  std::string many(n, '0');                  // 0,0,0,...
  for (size_t i = 1; i < n; i += 2) many[i] = ',';
  for (const std::string& text :
       {"[0." + std::string(n, '0') + "]", "[" + std::string(n, ' ') + "]",
        "\"" + std::string(n, 's') + "\"", "[" + many + "0]"}) {
    auto found = find_json_string(text, kPath, &watch);
    EXPECT_EQ(found ? ErrorKind::Other : found.error().kind(),
              ErrorKind::Interrupted);
  }
  EXPECT_EQ(watch.take(), SIGTERM);
}

}  // namespace
}  // namespace diagpack
