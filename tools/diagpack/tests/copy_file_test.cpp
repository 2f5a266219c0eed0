#include "sys/copy_file.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <numeric>

#include "test_support.hpp"

namespace diagpack {
namespace {

using test::exists;
using test::random_bytes;
using test::read_file;
using test::status_of;
using test::write_at;
using test::write_file;

class CopyFileTest : public test::TempDirTest {};

class UmaskScope {
 public:
  explicit UmaskScope(mode_t mask) : old_(::umask(mask)) {}
  ~UmaskScope() { ::umask(old_); }

 private:
  mode_t old_;
};

TEST_F(CopyFileTest, CopiesBytesAndForcesModeBitsPastTheUmask) {
  UmaskScope mask(077);
  std::vector<mode_t> modes = {0600, 0644, 0755, 0444, 01777};
  if (::geteuid() == 0) modes.push_back(06755);
  for (mode_t mode : modes) {
    const std::string src = path("src"), dst = path("dst");
    std::filesystem::remove(src);
    std::filesystem::remove(dst);
    write_file(src, "{\"logging\": {}}\n", mode);
    auto n = copy_file(src, dst);
    ASSERT_TRUE(n) << n.error().text();
    EXPECT_EQ(*n, 16u);
    EXPECT_EQ(read_file(dst), "{\"logging\": {}}\n");
    EXPECT_EQ(status_of(dst).st_mode & 07777, mode) << std::oct << mode;
    EXPECT_TRUE(S_ISREG(status_of(dst).st_mode));
  }
}

TEST_F(CopyFileTest, EmptyFileGivesEmptyCopy) {
  write_file(path("empty"), "");
  auto n = copy_file(path("empty"), path("copy"));
  ASSERT_TRUE(n) << n.error().text();
  EXPECT_EQ(*n, 0u);
  EXPECT_EQ(status_of(path("copy")).st_size, 0);
}

TEST_F(CopyFileTest, LinkToFileIsCopiedAsTheFile) {
  write_file(path("target"), "content", 0640);
  ASSERT_EQ(::symlink("target", path("link").c_str()), 0);
  ASSERT_TRUE(copy_file(path("link"), path("copy")));
  struct stat st = status_of(path("copy"));
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(read_file(path("copy")), "content");
}

TEST_F(CopyFileTest, ExistingLongerDestinationIsTruncated) {
  write_file(path("dst"), std::string(100000, 'x'), 0600);
  write_file(path("src"), "short", 0644);
  ASSERT_TRUE(copy_file(path("src"), path("dst")));
  EXPECT_EQ(read_file(path("dst")), "short");
  EXPECT_EQ(status_of(path("dst")).st_mode & 07777, 0644u);
}

TEST_F(CopyFileTest, NonRegularSourcesFailBeforeAnythingIsCreated) {
  ASSERT_EQ(::mkdir(path("dir").c_str(), 0755), 0);
  ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0644), 0);
  ASSERT_EQ(::symlink("dir", path("dirlink").c_str()), 0);
  for (const char* name : {"dir", "fifo", "dirlink"}) {
    auto n = copy_file(path(name), path("copy"));
    ASSERT_FALSE(n) << name;
    EXPECT_EQ(n.error().text(),
              "the source path is neither a regular file nor a symlink to a "
              "regular file");
    EXPECT_EQ(n.error().kind(), ErrorKind::InvalidInput);
    EXPECT_FALSE(exists(path("copy"))) << name;
  }
  auto dev = copy_file("/dev/null", path("copy"));
  ASSERT_FALSE(dev);
  EXPECT_EQ(dev.error().kind(), ErrorKind::InvalidInput);
  EXPECT_FALSE(exists(path("copy")));
}

TEST_F(CopyFileTest, SocketFailsAtOpen) {
  const std::string sock = path("sock");
  test::make_socket(sock);
  auto n = copy_file(sock, path("copy"));
  ASSERT_FALSE(n);
  EXPECT_EQ(n.error().text(), "No such device or address (os error 6)");
  EXPECT_FALSE(exists(path("copy")));
}

TEST_F(CopyFileTest, MissingSourceOrDestinationDirectoryIsAnOsError) {
  ASSERT_EQ(::symlink("nowhere", path("dangling").c_str()), 0);
  for (const char* name : {"missing", "dangling"}) {
    auto n = copy_file(path(name), path("copy"));
    ASSERT_FALSE(n);
    EXPECT_EQ(n.error().text(), "No such file or directory (os error 2)");
    EXPECT_EQ(n.error().os_code(), ENOENT);
  }
  EXPECT_FALSE(exists(path("copy")));
  write_file(path("src"), "x");
  auto n = copy_file(path("src"), path("gone/copy"));
  ASSERT_FALSE(n);
  EXPECT_EQ(n.error().text(), "No such file or directory (os error 2)");
}

// What stands at the destination is never written through and never holds
// up the copy: a symbolic link fails with ELOOP, a FIFO without a reader
// with ENXIO.
TEST_F(CopyFileTest, DestinationLinkOrFifoFailsAtOnce) {
  write_file(path("src"), "x");
  write_file(path("victim"), "kept");
  ASSERT_EQ(::symlink("victim", path("link").c_str()), 0);
  ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
  EXPECT_EQ(copy_file(path("src"), path("link")).error().os_code(), ELOOP);
  EXPECT_EQ(copy_file(path("src"), path("fifo")).error().os_code(), ENXIO);
  EXPECT_EQ(test::read_file(path("victim")), "kept");
}

TEST_F(CopyFileTest, ZeroByteInAPathIsRefused) {
  auto n = copy_file(std::string("/etc/pass\0wd", 12), path("copy"));
  ASSERT_FALSE(n);
  EXPECT_EQ(n.error().text(), "file name contained an unexpected NUL byte");
  EXPECT_EQ(n.error().kind(), ErrorKind::InvalidInput);
}

// A large dense file is copied byte for byte, in pieces of at most
// kCopyPieceBytes, each reported before the next begins; an error from the
// observer stops the copy there, with the destination as far as was reported.
TEST_F(CopyFileTest, ReportsBoundedPiecesAndStopsOnTheObserversError) {
  struct Pieces : PieceObserver {
    std::vector<uint64_t> seen;
    size_t stop_at = 0;
    Status piece_done(uint64_t bytes) override {
      seen.push_back(bytes);
      if (seen.size() == stop_at) return Error::interrupted();
      return {};
    }
  };
  const std::string bytes = random_bytes(2 * kCopyPieceBytes + 4096, 5);
  write_file(path("big"), bytes);
  Pieces all;
  auto n = copy_file(path("big"), path("copy"), all);
  ASSERT_TRUE(n) << n.error().text();
  EXPECT_EQ(*n, bytes.size());
  EXPECT_TRUE(read_file(path("copy")) == bytes);
  EXPECT_GE(all.seen.size(), 3u);
  EXPECT_LE(*std::max_element(all.seen.begin(), all.seen.end()),
            kCopyPieceBytes);
  EXPECT_EQ(std::accumulate(all.seen.begin(), all.seen.end(), uint64_t{0}),
            bytes.size());

  Pieces first;
  first.stop_at = 1;
  n = copy_file(path("big"), path("stopped"), first);
  ASSERT_FALSE(n);
  EXPECT_EQ(n.error().kind(), ErrorKind::Interrupted);
  EXPECT_EQ(static_cast<uint64_t>(status_of(path("stopped")).st_size),
            first.seen.at(0));
}

TEST_F(CopyFileTest, ProcFileReportingSizeZeroIsReadToItsEnd) {
  for (const char* proc : {"/proc/version", "/proc/self/mountinfo"}) {
    ASSERT_EQ(status_of(proc).st_size, 0) << proc;
    auto n = copy_file(proc, path("copy"));
    ASSERT_TRUE(n) << n.error().text();
    const std::string copy = read_file(path("copy"));
    EXPECT_GT(copy.size(), 0u) << proc;
    EXPECT_EQ(*n, copy.size());
    EXPECT_EQ(copy, read_file(proc)) << proc;
  }
}

TEST_F(CopyFileTest, HolesStayHolesAndContentIsIdentical) {
  const off_t mib = 1 << 20;
  struct Layout {
    off_t size;
    std::vector<off_t> data_at;  // 4 KiB-aligned pieces of data
  };
  const Layout layouts[] = {
      {64 * mib, {0, 10 * mib, 10 * mib + 4096, 40 * mib}},  // ends in a hole
      {64 * mib, {32 * mib, 64 * mib - 100}},                // starts with one
      {16 * mib, {}},                                        // all hole
  };
  if (!test::reports_holes(dir_.path()))
    GTEST_SKIP() << "no holes on this file system";
  unsigned seed = 1;
  for (const Layout& layout : layouts) {
    const std::string src = path("sparse"), dst = path("copy");
    write_file(src, "");
    ASSERT_EQ(::truncate(src.c_str(), layout.size), 0);
    for (off_t at : layout.data_at)
      write_at(src, at,
               random_bytes(std::min<off_t>(100000, layout.size - at), seed++));
    const struct stat src_st = status_of(src);

    auto n = copy_file(src, dst);
    ASSERT_TRUE(n) << n.error().text();
    EXPECT_EQ(*n, static_cast<uint64_t>(layout.size));
    struct stat dst_st = status_of(dst);
    EXPECT_EQ(dst_st.st_size, layout.size);
    // Allow a little for file systems that allocate ahead.
    EXPECT_LE(dst_st.st_blocks, src_st.st_blocks + 256) << "holes were filled";
    EXPECT_TRUE(read_file(dst) == read_file(src));
  }
}

}  // namespace
}  // namespace diagpack
