#include "archive/dir_walk.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "archive/tar_builder.hpp"
#include "string_sink.hpp"
#include "test_support.hpp"

namespace diagpack {
namespace {

// What the tests need of an entry: its full name, kind and data.
struct Entry {
  std::string name;
  char type = 0;
  std::string data;
};

uint64_t octal(std::string_view field) {
  uint64_t value = 0;
  for (char c : field) {
    if (c < '0' || c > '7') break;
    value = value * 8 + uint64_t(c - '0');
  }
  return value;
}

// Reads the entries of an uncompressed tar stream up to its end marker.
// Long-name entries give the following entry its name; sparse entries are
// not expected here.
std::vector<Entry> parse_tar(const std::string& tar) {
  std::vector<Entry> entries;
  std::string long_name;
  size_t pos = 0;
  while (pos + 512 <= tar.size()) {
    std::string_view header(tar.data() + pos, 512);
    if (header.find_first_not_of('\0') == std::string_view::npos) break;
    const uint64_t size = octal(header.substr(124, 12));
    const char type = header[156];
    std::string data = tar.substr(pos + 512, size);
    pos += 512 + (size + 511) / 512 * 512;
    if (type == 'L') {
      long_name = data.substr(0, data.find('\0'));
      continue;
    }
    Entry entry;
    std::string_view name_field = header.substr(0, 100);
    entry.name = long_name.empty()
                     ? std::string(name_field.substr(0, name_field.find('\0')))
                     : long_name;
    long_name.clear();
    entry.type = type;
    entry.data = std::move(data);
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::vector<std::string> names_of(const std::vector<Entry>& entries) {
  std::vector<std::string> names;
  for (const Entry& e : entries) names.push_back(e.name);
  return names;
}

const Entry* find_entry(const std::vector<Entry>& entries,
                        const std::string& name) {
  for (const Entry& e : entries)
    if (e.name == name) return &e;
  return nullptr;
}

using test::listing_order;
using test::make_dir;
using test::write_file;

class DirWalkTest : public test::TempDirTest {
 protected:
  void SetUp() override {
    out_ = path("jce-data");
    make_dir(out_);
  }
  std::string in_out(const std::string& rel) const { return out_ + "/" + rel; }

  // Walks the output directory; the entries written are in entries_.
  Status walk() {
    StringSink sink;
    Status status;
    {
      TarBuilder builder(sink);
      status = append_dir_all(builder, "jce-data", out_);
    }
    entries_ = parse_tar(sink.data);
    return status;
  }

  std::string out_;
  std::vector<Entry> entries_;
};

TEST_F(DirWalkTest, EmptyDirectoryGivesTheTopEntryOnly) {
  ASSERT_TRUE(walk().ok());
  ASSERT_EQ(entries_.size(), 1u);
  EXPECT_EQ(entries_[0].name, "jce-data/");
  EXPECT_EQ(entries_[0].type, '5');
}

// Children come in reverse listing order; a subdirectory's contents follow
// its own entry directly.
TEST_F(DirWalkTest, EntriesInReverseListingOrderDepthFirst) {
  write_file(in_out("a"), "A");
  make_dir(in_out("sub"));
  write_file(in_out("b"), "B");
  write_file(in_out("sub/x"), "X");
  write_file(in_out("sub/y"), "Y");

  std::vector<std::string> expected = {"jce-data/"};
  std::vector<std::string> top = listing_order(out_);
  std::reverse(top.begin(), top.end());
  for (const std::string& name : top) {
    expected.push_back("jce-data/" + name);
    if (name != "sub") continue;
    std::vector<std::string> sub = listing_order(in_out("sub"));
    std::reverse(sub.begin(), sub.end());
    for (const std::string& child : sub)
      expected.push_back("jce-data/sub/" + child);
  }

  Status status = walk();
  ASSERT_TRUE(status.ok()) << status.error().text();
  EXPECT_EQ(names_of(entries_), expected);
  EXPECT_EQ(find_entry(entries_, "jce-data/sub")->type, '5');
  EXPECT_EQ(find_entry(entries_, "jce-data/sub/y")->data, "Y");
}

TEST_F(DirWalkTest, LinksAreFollowedNeverStored) {
  const std::string elsewhere = path("elsewhere");
  make_dir(elsewhere);
  write_file(elsewhere + "/inner.log", "inner");
  write_file(path("target.txt"), "target content");
  ASSERT_EQ(::symlink(elsewhere.c_str(), in_out("dirlink").c_str()), 0);
  ASSERT_EQ(::symlink((path("target.txt")).c_str(), in_out("filelink").c_str()),
            0);

  Status status = walk();
  ASSERT_TRUE(status.ok()) << status.error().text();
  const Entry* dir = find_entry(entries_, "jce-data/dirlink");
  ASSERT_NE(dir, nullptr);
  EXPECT_EQ(dir->type, '5');
  const Entry* inner = find_entry(entries_, "jce-data/dirlink/inner.log");
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(inner->data, "inner");
  const Entry* file = find_entry(entries_, "jce-data/filelink");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->type, '0');
  EXPECT_EQ(file->data, "target content");
  for (const Entry& e : entries_) EXPECT_NE(e.type, '2') << e.name;
}

TEST_F(DirWalkTest, DanglingLinkEndsTheWalk) {
  ASSERT_EQ(::symlink("nowhere", in_out("dangling").c_str()), 0);
  Status status = walk();
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().text(), "No such file or directory (os error 2)");
  EXPECT_EQ(names_of(entries_), std::vector<std::string>{"jce-data/"});
}

TEST_F(DirWalkTest, LinkBackToTheTopLoopsUntilTheSystemRefuses) {
  write_file(in_out("f"), "F");
  ASSERT_EQ(::symlink(out_.c_str(), in_out("loop").c_str()), 0);
  Status status = walk();
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().text(),
            "Too many levels of symbolic links (os error 40)");
  const Entry* nested = find_entry(entries_, "jce-data/loop/loop");
  ASSERT_NE(nested, nullptr);
  EXPECT_EQ(nested->type, '5');
}

TEST_F(DirWalkTest, SocketEndsTheWalkWithItsName) {
  test::make_socket(in_out("agent.sock"));
  Status status = walk();
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().text(),
            "jce-data/agent.sock: socket can not be archived");
  EXPECT_EQ(names_of(entries_), std::vector<std::string>{"jce-data/"});
}

// A FIFO is stored from its status and never read; a blocking open would
// hold up this test.
TEST_F(DirWalkTest, FifoIsStoredAsFifo) {
  ASSERT_EQ(::mkfifo(in_out("pipe").c_str(), 0600), 0);
  Status status = walk();
  ASSERT_TRUE(status.ok()) << status.error().text();
  const Entry* fifo = find_entry(entries_, "jce-data/pipe");
  ASSERT_NE(fifo, nullptr);
  EXPECT_EQ(fifo->type, '6');
}

// Files replaced after the listing (when the top entry is written) are
// stored as what the walk opens: a FIFO as a FIFO, without blocking, and a
// bigger file with a header that matches its data.
TEST_F(DirWalkTest, EntriesReplacedAfterTheListingAreStoredAsOpened) {
  write_file(in_out("grew"), "old");
  write_file(in_out("pipe"), "a file when listed");
  struct ReplacingSink : StringSink {
    std::string out;
    Status write(std::string_view bytes) override {
      if (data.empty()) {
        write_file(out + "/grew.new", std::string(3000, 'g'));
        EXPECT_EQ(
            ::rename((out + "/grew.new").c_str(), (out + "/grew").c_str()), 0);
        EXPECT_EQ(::unlink((out + "/pipe").c_str()), 0);
        EXPECT_EQ(::mkfifo((out + "/pipe").c_str(), 0600), 0);
      }
      return StringSink::write(bytes);
    }
  } sink;
  sink.out = out_;
  {
    TarBuilder builder(sink);
    ASSERT_TRUE(append_dir_all(builder, "jce-data", out_));
  }
  const std::vector<Entry> entries = parse_tar(sink.data);
  ASSERT_NE(find_entry(entries, "jce-data/pipe"), nullptr);
  EXPECT_EQ(find_entry(entries, "jce-data/pipe")->type, '6');
  ASSERT_NE(find_entry(entries, "jce-data/grew"), nullptr);
  EXPECT_EQ(find_entry(entries, "jce-data/grew")->data, std::string(3000, 'g'));
}

// For short names and files without holes the estimate is the stream's
// exact length, end marker included.
TEST_F(DirWalkTest, EstimateIsTheStreamLengthOfPlainEntries) {
  write_file(in_out("a.log"), std::string(1000, 'a'));
  write_file(in_out("empty"), "");
  make_dir(in_out("sub"));
  write_file(in_out("sub/b.log"), std::string(512, 'b'));
  ASSERT_EQ(::symlink("a.log", in_out("link").c_str()), 0);
  ASSERT_EQ(::mkfifo(in_out("pipe").c_str(), 0600), 0);
  StringSink sink;
  {
    TarBuilder builder(sink);  // ends the archive when it goes
    ASSERT_TRUE(append_dir_all(builder, "jce-data", out_));
  }
  auto estimate = estimate_dir_all(out_);
  ASSERT_TRUE(estimate) << estimate.error().text();
  EXPECT_EQ(*estimate, sink.data.size());
}

TEST_F(DirWalkTest, LongNamesBelowTheTopKeepTheirFullPath) {
  const std::string name(120, 'n');
  write_file(in_out(name), "long");
  Status status = walk();
  ASSERT_TRUE(status.ok()) << status.error().text();
  const Entry* entry = find_entry(entries_, "jce-data/" + name);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->data, "long");
}

}  // namespace
}  // namespace diagpack
