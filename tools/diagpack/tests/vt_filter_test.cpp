#include "cli/vt_filter.hpp"

#include <gtest/gtest.h>

#include <string>

#include "reference_utf8.hpp"

namespace diagpack {
namespace {

TEST(VtFilter, StripsSequencesAndControls) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"plain text", "plain text"},
      {"\t\n\f\r", "\t\n\f\r"},
      {"\x1b[1m\x1b[4mUsage:\x1b[0m x", "Usage: x"},
      {"a\x1b[38;2;255;0;0mb", "ab"},  // CSI with parameters
      {"a\x1b[?25lb", "ab"},           // private CSI
      {"a\x1b[1:2mb", "ab"},           // ':' sends CSI to ignore
      {"a\x1b[1 qb", "ab"},            // CSI intermediate
      {"a\x1b"
       "7b",
       "ab"},              // ESC final
      {"a\x1b(Bb", "ab"},  // ESC intermediate
      {"a\x1b]0;title\x07"
       "b",
       "ab"},  // OSC ended by BEL
      {"a\x1b]8;;http://x\x1b\\link\x1b]8;;\x1b\\b", "alinkb"},
      {"a\x1bPq#0;2;0;0;0\x1b\\b", "ab"},  // DCS ended by ST
      {"a\x1b_apc\x1b\\b", "ab"},          // APC
      {"a\x1b^pm\x1b\\b", "ab"},           // PM
      {"a\x1bXsos\x1b\\b", "ab"},          // SOS
      {"a\x1b[12\x18"
       "b",
       "ab"},  // CAN cancels
      {"a\x1b]title\x1a"
       "b",
       "ab"},  // SUB cancels
      {"a\x1b[1\x07m"
       "b",
       "ab"},  // C0 inside CSI is executed
      {std::string("a\x07\x08\x0b\x00\x7f"
                   "b",
                   7),
       "ab"},  // C0, DEL
      {"trailing\x1b", "trailing"},
      {"trailing\x1b[", "trailing"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(strip_escapes(c.in), c.out) << testing::PrintToString(c.in);
}

TEST(VtFilter, KeepsUtf8AndDropsC1) {
  EXPECT_EQ(strip_escapes("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"),
            "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");
  EXPECT_EQ(strip_escapes("a\xEF\xBF\xBD"
                          "b"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(strip_escapes("\xC2\xA0"), "\xC2\xA0");
  // U+009B is CSI, U+009D OSC and U+009C ST, written as UTF-8.
  EXPECT_EQ(strip_escapes("a\xC2\x9B"
                          "31mb"),
            "ab");
  EXPECT_EQ(strip_escapes("a\xC2\x9Dtitle\xC2\x9C"
                          "b"),
            "ab");
  EXPECT_EQ(strip_escapes("a\xC2\x85"
                          "b"),
            "ab");
  // Non-ASCII characters inside a sequence are swallowed with it.
  EXPECT_EQ(strip_escapes("a\x1b]caf\xC3\xA9\x07"
                          "b"),
            "ab");
}

TEST(VtFilter, DropsIllFormedBytes) {
  EXPECT_EQ(strip_escapes("a\xFF"
                          "b"),
            "ab");
  EXPECT_EQ(strip_escapes("a\x9B"
                          "31mb"),
            "a31mb");  // raw C1 is not UTF-8
  EXPECT_EQ(strip_escapes("a\xE2\x82"
                          "b"),
            "ab");
  EXPECT_EQ(strip_escapes("a\xED\xA0\x80"
                          "b"),
            "ab");  // surrogate
  EXPECT_EQ(strip_escapes("a\xC0\xAF"
                          "b"),
            "ab");  // overlong
  EXPECT_EQ(strip_escapes("end\xF0\x9F\x98"), "end");
}

TEST(VtFilter, StateCarriesAcrossFeeds) {
  VtFilter filter;
  std::string out;
  filter.feed("a\x1b[3", out);
  filter.feed("1mb\xE2\x82", out);
  filter.feed("\xAC", out);
  EXPECT_EQ(out, "ab\xE2\x82\xAC");
}

TEST(VtFilter, EveryByteStringGivesCleanUtf8) {
  // Every pair of bytes after a few prefixes: output is valid UTF-8 with
  // no ESC, no C0 but tab/LF/FF/CR, and no DEL.
  for (const char* prefix : {"", "\x1b", "\x1b[", "\x1b]", "\x1bP", "\xE2"}) {
    for (int a = 0; a < 256; ++a) {
      for (int b = 0; b < 256; b += 7) {
        std::string in = prefix;
        in += static_cast<char>(a);
        in += static_cast<char>(b);
        const std::string out = strip_escapes(in);
        ASSERT_TRUE(test::reference_valid(out)) << testing::PrintToString(in);
        for (char ch : out) {
          const auto u = static_cast<unsigned char>(ch);
          ASSERT_TRUE(u >= 0x20 || u == '\t' || u == '\n' || u == '\f' ||
                      u == '\r')
              << testing::PrintToString(in);
          ASSERT_NE(u, 0x7F) << testing::PrintToString(in);
        }
      }
    }
  }
}

}  // namespace
}  // namespace diagpack
