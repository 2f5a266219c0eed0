#include "stages/log_files.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>  // symlink

#include <algorithm>
#include <filesystem>

#include "config/config_file.hpp"
#include "test_support.hpp"

namespace diagpack {
namespace {

using test::make_dir;

class LogFilesTest : public test::TempDirTest {
 protected:
  void write(const std::string& rel, const std::string& bytes) {
    test::write_file(path(rel), bytes);
  }
  std::string location_of(const std::string& config_text) {
    write("cfg", config_text);
    auto loc = read_log_location(path("cfg"));
    return loc ? "ok:" + *loc : "error:" + loc.error().text();
  }
};

TEST_F(LogFilesTest, LocationIsTheStringAtLoggingLogFile) {
  EXPECT_EQ(location_of(R"({"logging": {"log_file": "/var/log/app/jce.log"}})"),
            "ok:/var/log/app/jce.log");
  EXPECT_EQ(
      location_of(
          R"({"a": [1, {"b": null}], "logging": {"level": 3, "log_file": "x\u00e9\n"}})"),
      "ok:x\xC3\xA9\n");
  EXPECT_EQ(
      location_of(
          R"({"logging": {"log_file": "/a"}, "logging": {"log_file": "/b"}})"),
      "ok:/b");
  EXPECT_EQ(location_of(R"({"logging": {"log_file": ""}})"), "ok:");
}

TEST_F(LogFilesTest, LocationThatIsNotAStringIsMissing) {
  const std::string missing = "error:Failed to read log location from config";
  for (const char* text :
       {R"({"logging": {"log_file": 5}})", R"({"logging": "x.log"})",
        R"({"Logging": {"log_file": "/x"}})",
        R"({"logging": {"log_file": null}})",
        R"({"logging": {"log_file": ["/x"]}})", R"(["logging"])", "\"x\"", "{}",
        // The later duplicate wins even when it holds no location.
        R"({"logging": {"log_file": "/a"}, "logging": {"level": 1}})",
        R"({"logging": {"log_file": "/a", "log_file": 5}})"}) {
    EXPECT_EQ(location_of(text), missing) << text;
  }
}

TEST_F(LogFilesTest, ConfigurationTextErrors) {
  EXPECT_EQ(location_of(""),
            "error:EOF while parsing a value at line 1 column 0");
  EXPECT_EQ(location_of("{\"logging\": \xff}"),
            "error:stream did not contain valid UTF-8");
  write("cfg", "\xC3");
  EXPECT_EQ(read_log_location(path("cfg")).error().kind(),
            ErrorKind::InvalidData);
  write("cfg", "");
  EXPECT_EQ(read_log_location(path("cfg")).error().kind(),
            ErrorKind::UnexpectedEof);
}

TEST_F(LogFilesTest, ConfigurationFileErrors) {
  EXPECT_EQ(read_log_location(path("missing")).error().text(),
            "No such file or directory (os error 2)");
  make_dir(path("dir"));
  EXPECT_EQ(read_log_location(path("dir")).error().text(),
            "Is a directory (os error 21)");
  // A FIFO is judged by the open file's status and never read.
  ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0644), 0);
  EXPECT_EQ(read_log_location(path("fifo")).error().text(),
            "the source path is neither a regular file nor a symlink to a "
            "regular file");
}

TEST_F(LogFilesTest, FindsNonDirectoriesWhoseNamesContainTheLogName) {
  make_dir(path("logs"));
  for (const char* name :
       {"jce.log", "jce.log.1", "jce.log.2.gz", "old-jce.log", "JCE.log",
        "other.txt", "jce.lo", "jce.log\xff"}) {
    write(std::string("logs/") + name, name);
  }
  make_dir(path("logs/jce.log.d"));
  ASSERT_EQ(::symlink("jce.log.d", path("logs/jce.log.link").c_str()), 0);
  ASSERT_EQ(::symlink("jce.log.1", path("logs/jce.log.file-link").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", path("logs/jce.log.dangling").c_str()), 0);

  const std::vector<std::string> wanted = {
      "jce.log",     "jce.log.1",         "jce.log.2.gz",    "old-jce.log",
      "jce.log\xff", "jce.log.file-link", "jce.log.dangling"};
  std::vector<std::string> expected;
  for (const std::string& name : test::listing_order(path("logs"))) {
    if (std::find(wanted.begin(), wanted.end(), name) != wanted.end()) {
      expected.push_back(path("logs/" + name));
    }
  }
  auto found = find_log_files(path("logs"), "jce.log");
  ASSERT_TRUE(found) << found.error().text();
  EXPECT_EQ(*found, expected);
}

TEST_F(LogFilesTest, NamesAreComparedAfterLossyDecoding) {
  make_dir(path("logs"));
  write(
      "logs/a\xff"
      "b",
      "");
  write("logs/ab", "");
  auto found = find_log_files(path("logs"), "a\xEF\xBF\xBD");  // "a" U+FFFD
  ASSERT_TRUE(found);
  EXPECT_EQ(*found, std::vector<std::string>{path("logs/a\xff"
                                                  "b")});
}

TEST_F(LogFilesTest, EntryPathsJoinTheDirectoryAsWritten) {
  make_dir(path("logs"));
  write("logs/x.log", "");
  const auto old_cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir_.path());
  auto found = find_log_files("logs/", "x.log");
  std::filesystem::current_path(old_cwd);
  ASSERT_TRUE(found);
  EXPECT_EQ(*found, std::vector<std::string>{"logs/x.log"});
  ASSERT_EQ(::symlink("logs", path("via-link").c_str()), 0);
  found = find_log_files(path("via-link"), "x.log");
  ASSERT_TRUE(found);
  EXPECT_EQ(*found, std::vector<std::string>{path("via-link/x.log")});
}

TEST_F(LogFilesTest, ListingErrors) {
  write("file", "");
  EXPECT_EQ(find_log_files("", "x").error().text(),
            "No such file or directory (os error 2)");
  EXPECT_EQ(find_log_files(path("missing"), "x").error().text(),
            "No such file or directory (os error 2)");
  EXPECT_EQ(find_log_files(path("file"), "x").error().text(),
            "Not a directory (os error 20)");
  auto nul = find_log_files(std::string("/var/lo\0g", 9), "x");
  ASSERT_FALSE(nul);
  EXPECT_EQ(nul.error().text(), "file name contained an unexpected NUL byte");
  EXPECT_EQ(nul.error().kind(), ErrorKind::InvalidInput);
}

TEST_F(LogFilesTest, EmptyDirectoryFindsNothing) {
  make_dir(path("logs"));
  auto found = find_log_files(path("logs"), "jce.log");
  ASSERT_TRUE(found);
  EXPECT_TRUE(found->empty());
}

}  // namespace
}  // namespace diagpack
