#include "cli/jaro.hpp"

#include <gtest/gtest.h>

namespace diagpack {
namespace {

TEST(Jaro, KnownValues) {
  EXPECT_DOUBLE_EQ(jaro_similarity("help", "help"), 1.0);
  EXPECT_DOUBLE_EQ(jaro_similarity("h", "help"), 0.75);
  EXPECT_NEAR(jaro_similarity("hello", "help"), 0.7833, 1e-4);
  EXPECT_NEAR(jaro_similarity("MARTHA", "MARHTA"), 0.9444, 1e-4);
  EXPECT_NEAR(jaro_similarity("DIXON", "DICKSONX"), 0.7667, 1e-4);
  EXPECT_NEAR(jaro_similarity("hh", "help"), 0.5833, 1e-4);
  EXPECT_DOUBLE_EQ(jaro_similarity("HELP", "help"), 0.0);
  EXPECT_DOUBLE_EQ(jaro_similarity("p", "help"), 0.0);
  EXPECT_DOUBLE_EQ(jaro_similarity("", "help"), 0.0);
  EXPECT_DOUBLE_EQ(jaro_similarity("help", ""), 0.0);
  EXPECT_DOUBLE_EQ(jaro_similarity("", ""), 1.0);
}

TEST(Jaro, IsSymmetric) {
  for (const char* s : {"h", "hello", "elp", "hlep", "helpp", "versio"})
    EXPECT_DOUBLE_EQ(jaro_similarity(s, "help"), jaro_similarity("help", s))
        << s;
}

// Which mistyped long names clear the suggestion bar of 0.7 (strictly).
TEST(Jaro, SuggestionBoundary) {
  struct Case {
    const char* name;
    bool similar;
  };
  const Case cases[] = {
      {"h", true},    {"he", true},    {"hel", true},      {"elp", true},
      {"hepl", true}, {"hlep", true},  {"halp", true},     {"helo", true},
      {"Help", true}, {"helpp", true}, {"hello", true},    {"HELP", false},
      {"hh", false},  {"p", false},    {"version", false}, {"foo", false},
      {"", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(jaro_similarity(c.name, "help") > 0.7, c.similar) << c.name;
}

TEST(Jaro, CountsCharactersNotBytes) {
  // "é" is two bytes but one character: "hélp" matches h, l, p of "help".
  EXPECT_NEAR(jaro_similarity("h\xC3\xA9lp", "help"), 0.8333, 1e-4);
  // An ill-formed byte counts as one U+FFFD character.
  EXPECT_NEAR(jaro_similarity("hel\xFF", "help"), 0.8333, 1e-4);
  EXPECT_DOUBLE_EQ(jaro_similarity("\xEF\xBF\xBD", "\xFF"), 1.0);
}

}  // namespace
}  // namespace diagpack
