#include "base/path_ops.hpp"

#include <gtest/gtest.h>

namespace diagpack {
namespace {

const char* const kNone = "<none>";

std::string show(const std::optional<std::string>& p) {
  return p ? "'" + *p + "'" : kNone;
}

TEST(JoinPath, AddsOneSeparatorOnlyWhenNeeded) {
  EXPECT_EQ(join_path("/tmp/jce-data", "quorvane-jce.cfg"),
            "/tmp/jce-data/quorvane-jce.cfg");
  EXPECT_EQ(join_path("", "x"), "x");
  EXPECT_EQ(join_path("/", "x"), "/x");
  EXPECT_EQ(join_path("a/", "x"), "a/x");
  EXPECT_EQ(join_path("a//", "x"), "a//x");
  EXPECT_EQ(join_path("a", ""), "a/");
  EXPECT_EQ(join_path("a/.", "x"), "a/./x");
}

TEST(JoinPath, AbsoluteNameReplacesBase) {
  EXPECT_EQ(join_path("/tmp/jce-data", "/etc/passwd"), "/etc/passwd");
  EXPECT_EQ(join_path("", "/x"), "/x");
}

struct PathCase {
  const char* path;
  const char* parent;  // kNone for none
  const char* name;
};

// Log locations and what the log collection derives from them, plus the
// corner cases of the component rules.
const PathCase kCases[] = {
    {"/var/log/app/jce.log", "/var/log/app", "jce.log"},
    {"/jce.log", "/", "jce.log"},
    {"./logs/jce.log", "./logs", "jce.log"},
    {"/var/log//jce.log", "/var/log", "jce.log"},
    {"/var/log/app/", "/var/log", "app"},
    {"jce.log", "", "jce.log"},
    {"/var/log/app/..", "/var/log/app", kNone},
    {".", "", kNone},
    {"/", kNone, kNone},
    {"", kNone, kNone},
    {"/x", "/", "x"},
    {"./x", ".", "x"},
    {"x", "", "x"},
    {"a/./b", "a", "b"},
    {"a//b", "a", "b"},
    {"/var/log/x.log/", "/var/log", "x.log"},
    {"/var/log/x.log/.", "/var/log", "x.log"},
    {"/var/log/x.log/./", "/var/log", "x.log"},
    {"//x", "/", "x"},
    {"//", kNone, kNone},
    {"/.", kNone, kNone},
    {"/./", kNone, kNone},
    {"./", "", kNone},
    {"./.", "", kNone},
    {".//x", ".", "x"},
    {"././x", ".", "x"},
    {"..", "", kNone},
    {"../x", "..", "x"},
    {"a/..", "a", kNone},
    {"a/b/../", "a/b", kNone},
    {".x", "", ".x"},
    {"..x/y", "..x", "y"},
    {"a/.b", "a", ".b"},
    {"x/", "", "x"},
    {"x/.", "", "x"},
};

TEST(PathOps, ParentAndFileNameFollowComponents) {
  for (const PathCase& c : kCases) {
    std::string want_parent =
        c.parent == kNone ? kNone : "'" + std::string(c.parent) + "'";
    std::string want_name =
        c.name == kNone ? kNone : "'" + std::string(c.name) + "'";
    EXPECT_EQ(show(parent_path(c.path)), want_parent)
        << "parent of '" << c.path << "'";
    EXPECT_EQ(show(file_name(c.path)), want_name)
        << "file name of '" << c.path << "'";
  }
}

TEST(PathOps, BytesAreNotInterpreted) {
  EXPECT_EQ(show(file_name("/d/\xff\xfe.log")), "'\xff\xfe.log'");
  EXPECT_EQ(show(parent_path(std::string_view("/d\0x/f", 6))),
            "'" + std::string("/d\0x", 4) + "'");
}

}  // namespace
}  // namespace diagpack
