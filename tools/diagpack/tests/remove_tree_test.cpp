#include "sys/remove_tree.hpp"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>  // FS_IOC_GETFLAGS, FS_IMMUTABLE_FL
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace diagpack {
namespace {

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

void make_file(const std::string& path, const std::string& text = "x") {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(::write(fd, text.data(), text.size()), ssize_t(text.size()));
  ::close(fd);
}

void make_dir(const std::string& path) {
  ASSERT_EQ(::mkdir(path.c_str(), 0755), 0) << path;
}

// Sets or clears the immutable flag; false where the file system has none.
bool set_immutable(const std::string& path, bool on) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  ::close(fd);
  return ok;
}

class RemoveTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp && *tmp ? tmp : "/tmp") + "/remove_tree_test.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
  }
  void TearDown() override {
    std::string cmd = "chattr -R -i '" + root_ +
                      "' 2>/dev/null; chmod -R u+rwx '" + root_ +
                      "' 2>/dev/null; rm -rf '" + root_ + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
  }
  std::string path(const std::string& rel) const { return root_ + "/" + rel; }

  std::string root_;
};

TEST_F(RemoveTreeTest, RemovesNestedDirectoriesAndFiles) {
  make_dir(path("t"));
  make_file(path("t/a"));
  make_dir(path("t/d1"));
  make_dir(path("t/d1/d2"));
  make_dir(path("t/d1/empty"));
  make_file(path("t/d1/d2/deep"));
  ASSERT_EQ(::mkfifo(path("t/d1/fifo").c_str(), 0600), 0);
  Status status = remove_dir_all(path("t"));
  EXPECT_TRUE(status.ok()) << status.error().text();
  EXPECT_FALSE(exists(path("t")));
}

TEST_F(RemoveTreeTest, NeverFollowsLinksInsideTheTree) {
  make_dir(path("outside"));
  make_file(path("outside/keep"), "precious");
  make_file(path("victim"), "also precious");
  make_dir(path("t"));
  make_dir(path("t/sub"));
  ASSERT_EQ(::symlink(path("outside").c_str(), path("t/dirlink").c_str()), 0);
  ASSERT_EQ(::symlink(path("outside").c_str(), path("t/sub/deeplink").c_str()),
            0);
  ASSERT_EQ(::symlink(path("victim").c_str(), path("t/filelink").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", path("t/dangling").c_str()), 0);

  Status status = remove_dir_all(path("t"));
  EXPECT_TRUE(status.ok()) << status.error().text();
  EXPECT_FALSE(exists(path("t")));
  EXPECT_TRUE(exists(path("outside/keep")));
  EXPECT_TRUE(exists(path("victim")));
}

TEST_F(RemoveTreeTest, LinkAtTheTopIsRemovedNotItsTarget) {
  make_dir(path("target"));
  make_file(path("target/keep"));
  ASSERT_EQ(::symlink(path("target").c_str(), path("link").c_str()), 0);
  Status status = remove_dir_all(path("link"));
  EXPECT_TRUE(status.ok()) << status.error().text();
  EXPECT_FALSE(exists(path("link")));
  EXPECT_TRUE(exists(path("target/keep")));
}

TEST_F(RemoveTreeTest, MissingPathIsAnError) {
  Status status = remove_dir_all(path("absent"));
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().text(), "No such file or directory (os error 2)");
}

TEST_F(RemoveTreeTest, RegularFileAtTheTopIsNotADirectory) {
  make_file(path("plain"));
  Status status = remove_dir_all(path("plain"));
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().text(), "Not a directory (os error 20)");
  EXPECT_TRUE(exists(path("plain")));
}

// An entry that cannot be removed ends the removal with its error; its
// directory and the top stay.
TEST_F(RemoveTreeTest, UnremovableEntryStopsWithItsError) {
  make_dir(path("t"));
  make_dir(path("t/locked"));
  make_file(path("t/locked/f"));
  std::string expected;
  if (::geteuid() != 0) {
    ASSERT_EQ(::chmod(path("t/locked").c_str(), 0555), 0);
    expected = "Permission denied (os error 13)";
  } else {
    // Root ignores permission bits; an immutable file cannot be unlinked.
    if (!set_immutable(path("t/locked/f"), true))
      GTEST_SKIP() << "no immutable flag on this file system";
    expected = "Operation not permitted (os error 1)";
  }
  Status status = remove_dir_all(path("t"));
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().text(), expected);
  EXPECT_TRUE(exists(path("t/locked/f")));
  if (::geteuid() == 0) set_immutable(path("t/locked/f"), false);
}

TEST_F(RemoveTreeTest, DeepTreeDoesNotExhaustTheCallStack) {
  // Built with *at() calls: the full path is far beyond PATH_MAX.
  int fd = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::mkdirat(fd, "t", 0755), 0);
  int dir = ::openat(fd, "t", O_RDONLY | O_DIRECTORY);
  ::close(fd);
  const std::string name(100, 'd');
  for (int i = 0; i < 300 && dir >= 0; ++i) {
    ASSERT_EQ(::mkdirat(dir, name.c_str(), 0755), 0);
    int next = ::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY);
    ::close(dir);
    dir = next;
  }
  ASSERT_GE(dir, 0);
  ::close(dir);
  Status status = remove_dir_all(path("t"));
  EXPECT_TRUE(status.ok()) << status.error().text();
  EXPECT_FALSE(exists(path("t")));
}

}  // namespace
}  // namespace diagpack
