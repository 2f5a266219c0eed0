#include "cli/jaro.hpp"

#include <gtest/gtest.h>

namespace diagpack {
namespace {

// Pins a similarity between two bounds in thousandths: above |low|/1000,
// not above |high|/1000.
void expect_between(std::string_view a, std::string_view b, unsigned low,
                    unsigned high) {
  EXPECT_TRUE(jaro_similarity_above(a, b, low, 1000)) << a << " > " << low;
  EXPECT_FALSE(jaro_similarity_above(a, b, high, 1000)) << a << " <= " << high;
  EXPECT_EQ(jaro_similarity_above(a, b, low, 1000),
            jaro_similarity_above(b, a, low, 1000))
      << a << " is not symmetric";
}

TEST(Jaro, KnownValues) {
  expect_between("h", "help", 749, 750);                          // 0.75
  expect_between("hello", "help", 783, 784);                      // 0.7833
  expect_between("MARTHA", "MARHTA", 944, 945);                   // 0.9444
  expect_between("DIXON", "DICKSONX", 766, 767);                  // 0.7667
  expect_between("hh", "help", 583, 584);                         // 0.5833
  EXPECT_TRUE(jaro_similarity_above("help", "help", 999, 1000));  // 1
  EXPECT_TRUE(jaro_similarity_above("", "", 999, 1000));          // 1
  EXPECT_FALSE(jaro_similarity_above("HELP", "help", 0, 1));      // 0
  EXPECT_FALSE(jaro_similarity_above("", "help", 0, 1));          // 0
  EXPECT_FALSE(jaro_similarity_above("help", "", 0, 1));          // 0
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
    EXPECT_EQ(jaro_similarity_above(c.name, "help", 7, 10), c.similar)
        << c.name;
}

TEST(Jaro, CountsCharactersNotBytes) {
  // "é" is two bytes but one character: "hélp" matches h, l, p of "help".
  expect_between("h\xC3\xA9lp", "help", 833, 834);
  // An ill-formed byte counts as one U+FFFD character.
  expect_between("hel\xFF", "help", 833, 834);
  EXPECT_TRUE(jaro_similarity_above("\xEF\xBF\xBD", "\xFF", 999, 1000));
}

}  // namespace
}  // namespace diagpack
