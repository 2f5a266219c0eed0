#include "base/utf8.hpp"

#include <gtest/gtest.h>

namespace diagpack {
namespace {

std::string fault_text(std::string_view bytes) {
  auto fault = find_utf8_fault(bytes);
  return fault ? utf8_fault_text(*fault) : "valid";
}

TEST(Utf8Fault, NamesLengthAndIndexOfFirstBadSequence) {
  EXPECT_EQ(fault_text("hello\xFF"),
            "invalid utf-8 sequence of 1 bytes from index 5");
  EXPECT_EQ(fault_text("0123456789\xE2\x82"),
            "incomplete utf-8 byte sequence from index 10");
  EXPECT_EQ(fault_text("ab\xE2\x82x"),
            "invalid utf-8 sequence of 2 bytes from index 2");
  EXPECT_EQ(fault_text("\xF0\x9F\x98x"),
            "invalid utf-8 sequence of 3 bytes from index 0");
  EXPECT_EQ(fault_text("\xC2"), "incomplete utf-8 byte sequence from index 0");
  EXPECT_EQ(fault_text("\x80"),
            "invalid utf-8 sequence of 1 bytes from index 0");
  EXPECT_EQ(fault_text("\xC0\xAF"),
            "invalid utf-8 sequence of 1 bytes from index 0");
  EXPECT_EQ(fault_text("\xF5\x80\x80\x80"),
            "invalid utf-8 sequence of 1 bytes from index 0");
}

TEST(Utf8Fault, SecondByteRangesDependOnLead) {
  EXPECT_EQ(fault_text("\xE0\x9F\x80"),
            "invalid utf-8 sequence of 1 bytes from index 0");
  EXPECT_EQ(fault_text("\xE0\xA0\x80"), "valid");
  EXPECT_EQ(fault_text("\xED\xA0\x80"),
            "invalid utf-8 sequence of 1 bytes from index 0");
  EXPECT_EQ(fault_text("\xED\x9F\xBF"), "valid");
  EXPECT_EQ(fault_text("\xF0\x8F\x80\x80"),
            "invalid utf-8 sequence of 1 bytes from index 0");
  EXPECT_EQ(fault_text("\xF4\x90\x80\x80"),
            "invalid utf-8 sequence of 1 bytes from index 0");
  EXPECT_EQ(fault_text("\xF4\x8F\xBF\xBF"), "valid");
  EXPECT_EQ(fault_text(""), "valid");
  EXPECT_EQ(fault_text(std::string_view("a\0b", 3)), "valid");
}

TEST(Utf8Lossy, ReplacesMaximalSubparts) {
  EXPECT_EQ(utf8_lossy("a\xFF"
                       "b"),
            "a\xEF\xBF\xBD"
            "b");
  // One U+FFFD per maximal subpart: E2 82 is one subpart, then 'x'.
  EXPECT_EQ(utf8_lossy("\xE2\x82x"), "\xEF\xBF\xBDx");
  // ED A0 80: ED cannot take A0, so three replacements.
  EXPECT_EQ(utf8_lossy("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(utf8_lossy("\xF0\x9F\x98"), "\xEF\xBF\xBD");
  EXPECT_EQ(utf8_lossy("caf\xC3\xA9"), "caf\xC3\xA9");
}

TEST(Utf8, ValidPrefixStopsBeforeFirstFault) {
  EXPECT_EQ(utf8_valid_prefix("abc\xE2\x82"), "abc");
  EXPECT_EQ(utf8_valid_prefix("abc"), "abc");
}

TEST(Utf8, Latin1BytesBecomeCodePoints) {
  EXPECT_EQ(latin1_to_utf8("5.15\xE9"), "5.15\xC3\xA9");
  EXPECT_EQ(latin1_to_utf8("\x01\x7F"), "\x01\x7F");
  EXPECT_EQ(latin1_to_utf8("\xFF"), "\xC3\xBF");
}

}  // namespace
}  // namespace diagpack
