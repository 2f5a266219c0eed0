#include "sys/copy_file.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace diagpack {
namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void spit(const std::string& path, const std::string& bytes,
          mode_t mode = 0644) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

struct stat stat_of(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st;
}

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// Writes |bytes| at |offset| of an open file.
void put(int fd, off_t offset, const std::string& bytes) {
  ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), offset),
            static_cast<ssize_t>(bytes.size()));
}

std::string random_bytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen());
  return s;
}

class CopyFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp && *tmp ? tmp : "/tmp") + "/copy_file_test.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(root_); }
  std::string path(const std::string& rel) const { return root_ + "/" + rel; }

  std::string root_;
};

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
    spit(src, "{\"logging\": {}}\n", mode);
    auto n = copy_file(src, dst);
    ASSERT_TRUE(n) << n.error().text();
    EXPECT_EQ(*n, 16u);
    EXPECT_EQ(slurp(dst), "{\"logging\": {}}\n");
    EXPECT_EQ(stat_of(dst).st_mode & 07777, mode) << std::oct << mode;
    EXPECT_TRUE(S_ISREG(stat_of(dst).st_mode));
  }
}

TEST_F(CopyFileTest, EmptyFileGivesEmptyCopy) {
  spit(path("empty"), "");
  auto n = copy_file(path("empty"), path("copy"));
  ASSERT_TRUE(n) << n.error().text();
  EXPECT_EQ(*n, 0u);
  EXPECT_EQ(stat_of(path("copy")).st_size, 0);
}

TEST_F(CopyFileTest, LinkToFileIsCopiedAsTheFile) {
  spit(path("target"), "content", 0640);
  ASSERT_EQ(::symlink("target", path("link").c_str()), 0);
  ASSERT_TRUE(copy_file(path("link"), path("copy")));
  struct stat st = stat_of(path("copy"));
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(slurp(path("copy")), "content");
}

TEST_F(CopyFileTest, ExistingLongerDestinationIsTruncated) {
  spit(path("dst"), std::string(100000, 'x'), 0600);
  spit(path("src"), "short", 0644);
  ASSERT_TRUE(copy_file(path("src"), path("dst")));
  EXPECT_EQ(slurp(path("dst")), "short");
  EXPECT_EQ(stat_of(path("dst")).st_mode & 07777, 0644u);
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
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(sock.size(), sizeof addr.sun_path);
  sock.copy(addr.sun_path, sock.size());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  auto n = copy_file(sock, path("copy"));
  ::close(fd);
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
  spit(path("src"), "x");
  auto n = copy_file(path("src"), path("gone/copy"));
  ASSERT_FALSE(n);
  EXPECT_EQ(n.error().text(), "No such file or directory (os error 2)");
}

TEST_F(CopyFileTest, ZeroByteInAPathIsRefused) {
  auto n = copy_file(std::string("/etc/pass\0wd", 12), path("copy"));
  ASSERT_FALSE(n);
  EXPECT_EQ(n.error().text(), "file name contained an unexpected NUL byte");
  EXPECT_EQ(n.error().kind(), ErrorKind::InvalidInput);
}

TEST_F(CopyFileTest, LargeDenseFileIsByteIdentical) {
  const std::string bytes = random_bytes(3 * 1024 * 1024 + 17, 7);
  spit(path("big"), bytes);
  auto n = copy_file(path("big"), path("copy"));
  ASSERT_TRUE(n) << n.error().text();
  EXPECT_EQ(*n, bytes.size());
  EXPECT_TRUE(slurp(path("copy")) == bytes);
}

TEST_F(CopyFileTest, ProcFileReportingSizeZeroIsReadToItsEnd) {
  for (const char* proc : {"/proc/version", "/proc/self/mountinfo"}) {
    ASSERT_EQ(stat_of(proc).st_size, 0) << proc;
    auto n = copy_file(proc, path("copy"));
    ASSERT_TRUE(n) << n.error().text();
    const std::string copy = slurp(path("copy"));
    EXPECT_GT(copy.size(), 0u) << proc;
    EXPECT_EQ(*n, copy.size());
    EXPECT_EQ(copy, slurp(proc)) << proc;
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
  unsigned seed = 1;
  for (const Layout& layout : layouts) {
    const std::string src = path("sparse"), dst = path("copy");
    std::filesystem::remove(src);
    int fd = ::open(src.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, layout.size), 0);
    for (off_t at : layout.data_at) {
      put(fd, at,
          random_bytes(std::min<off_t>(100000, layout.size - at), seed++));
    }
    ASSERT_EQ(::close(fd), 0);
    struct stat src_st = stat_of(src);
    if (src_st.st_blocks * 512 >= src_st.st_size)
      GTEST_SKIP() << "no holes on this file system";

    auto n = copy_file(src, dst);
    ASSERT_TRUE(n) << n.error().text();
    EXPECT_EQ(*n, static_cast<uint64_t>(layout.size));
    struct stat dst_st = stat_of(dst);
    EXPECT_EQ(dst_st.st_size, layout.size);
    // Allow a little for file systems that allocate ahead.
    EXPECT_LE(dst_st.st_blocks, src_st.st_blocks + 256) << "holes were filled";
    EXPECT_TRUE(slurp(dst) == slurp(src));
  }
}

}  // namespace
}  // namespace diagpack
