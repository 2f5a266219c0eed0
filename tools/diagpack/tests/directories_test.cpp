#include "sys/directories.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>  // FS_IOC_GETFLAGS, FS_IMMUTABLE_FL
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "test_support.hpp"

namespace diagpack {
namespace {

using test::exists;
using test::make_dir;
using test::write_file;

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

// Clears the immutable flag again however the test ends, so the
// temporary directory can go.
struct Mutable {
  std::string path;
  ~Mutable() {
    if (!path.empty()) set_immutable(path, false);
  }
};

class RemoveTreeTest : public test::TempDirTest {};

TEST_F(RemoveTreeTest, RemovesNestedDirectoriesAndFiles) {
  make_dir(path("t"));
  write_file(path("t/a"), "x");
  make_dir(path("t/d1"));
  make_dir(path("t/d1/d2"));
  make_dir(path("t/d1/empty"));
  write_file(path("t/d1/d2/deep"), "x");
  ASSERT_EQ(::mkfifo(path("t/d1/fifo").c_str(), 0600), 0);
  Status status = remove_dir_all(path("t"));
  EXPECT_TRUE(status.ok()) << status.error().text();
  EXPECT_FALSE(exists(path("t")));
}

TEST_F(RemoveTreeTest, NeverFollowsLinksInsideTheTree) {
  make_dir(path("outside"));
  write_file(path("outside/keep"), "precious");
  write_file(path("victim"), "also precious");
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
  write_file(path("target/keep"), "x");
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
  write_file(path("plain"), "x");
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
  write_file(path("t/locked/f"), "x");
  std::string expected;
  Mutable unlock;
  if (::geteuid() != 0) {
    ASSERT_EQ(::chmod(path("t/locked").c_str(), 0555), 0);
    expected = "Permission denied (os error 13)";
  } else {
    // Root ignores permission bits; an immutable file cannot be unlinked.
    if (!set_immutable(path("t/locked/f"), true))
      GTEST_SKIP() << "no immutable flag on this file system";
    unlock.path = path("t/locked/f");
    expected = "Operation not permitted (os error 1)";
  }
  Status status = remove_dir_all(path("t"));
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().text(), expected);
  EXPECT_TRUE(exists(path("t/locked/f")));
}

TEST_F(RemoveTreeTest, DeepTreeDoesNotExhaustTheCallStack) {
  // Built with *at() calls: the full path is far beyond PATH_MAX.
  int fd = ::open(dir_.path().c_str(), O_RDONLY | O_DIRECTORY);
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
