// What the unit tests share: a private temporary directory that goes away
// however a test ends, files made and read back in one line, descriptors
// owned by the test, and deterministic bytes that do not compress.
//
// The helpers report a failure through GoogleTest (and give an empty or
// invalid result) instead of returning an error: a test that cannot set
// up its files is a failed test.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/filter.h>   // sock_filter, BPF_STMT, BPF_JUMP
#include <linux/seccomp.h>  // seccomp_data, SECCOMP_RET_ERRNO
#include <stdlib.h>         // mkdtemp, getenv
#include <sys/prctl.h>      // PR_SET_SECCOMP
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>  // offsetof
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "sys/unique_fd.hpp"

namespace diagpack::test {

// A fresh directory below $TMPDIR (or /tmp), removed with everything in it
// when the object goes, whether the test passed or not. Subdirectories the
// test made read-only or unreadable are opened up again first.
class TempDir {
 public:
  TempDir() {
    const char* tmp = ::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp && *tmp ? tmp : "/tmp") + "/diagpack-test-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr)
      root_ = pattern;
    else
      ADD_FAILURE() << "mkdtemp " << pattern << ": " << std::strerror(errno);
  }
  ~TempDir() {
    if (root_.empty()) return;
    namespace fs = std::filesystem;
    std::error_code ec;
    const auto open_up = [&](const fs::path& dir) {
      fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
    };
    open_up(root_);
    // The iterator opens a directory only after it was listed here.
    for (fs::recursive_directory_iterator it(root_, ec), end; !ec && it != end;
         it.increment(ec)) {
      if (it->is_directory(ec) && !it->is_symlink(ec)) open_up(it->path());
    }
    fs::remove_all(root_, ec);
    // Paths beyond PATH_MAX defeat remove_all; rm walks them relatively.
    if (ec) {
      [[maybe_unused]] const int rm =
          std::system(("rm -rf -- '" + root_ + "'").c_str());
    }
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return root_; }
  std::string path(std::string_view rel) const {
    return root_ + "/" + std::string(rel);
  }

 private:
  std::string root_;
};

// A test fixture with its own TempDir; path(rel) names a file in it.
class TempDirTest : public ::testing::Test {
 protected:
  std::string path(std::string_view rel) const { return dir_.path(rel); }
  TempDir dir_;
};

// Creates (or empties) |path| and writes |bytes|; its mode is exactly
// |mode|, whatever the umask.
inline void write_file(const std::string& path, std::string_view bytes,
                       mode_t mode = 0644) {
  UniqueFd fd(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  ASSERT_TRUE(fd.valid()) << path << ": " << std::strerror(errno);
  ASSERT_EQ(::write(fd.get(), bytes.data(), bytes.size()),
            static_cast<ssize_t>(bytes.size()))
      << path;
  ASSERT_EQ(::fchmod(fd.get(), mode), 0) << path;
}

// Writes |bytes| at |offset| of |path|, creating it (mode 0644) when
// missing and keeping the rest of what it holds: a gap becomes a hole.
inline void write_at(const std::string& path, off_t offset,
                     std::string_view bytes) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
  ASSERT_TRUE(fd.valid()) << path << ": " << std::strerror(errno);
  ASSERT_EQ(::pwrite(fd.get(), bytes.data(), bytes.size(), offset),
            static_cast<ssize_t>(bytes.size()))
      << path;
}

// The whole content of |path|, read to its end (a size of 0 in its status,
// as /proc files give, is not trusted). "" and a failure when unreadable.
inline std::string read_file(const std::string& path) {
  std::string out;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  EXPECT_TRUE(fd.valid()) << path << ": " << std::strerror(errno);
  char buf[65536];
  ssize_t n;
  while (fd.valid() && (n = ::read(fd.get(), buf, sizeof buf)) > 0)
    out.append(buf, static_cast<size_t>(n));
  return out;
}

// Whether anything, a dangling link included, is at |path|.
inline bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// The status of |path| itself (a link is not followed); a failure when
// there is nothing.
inline struct stat status_of(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0)
      << path << ": " << std::strerror(errno);
  return st;
}

inline void make_dir(const std::string& path, mode_t mode = 0755) {
  ASSERT_EQ(::mkdir(path.c_str(), mode), 0)
      << path << ": " << std::strerror(errno);
}

// Leaves a Unix socket at |path| (no longer listened on).
inline void make_socket(const std::string& path) {
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  ASSERT_TRUE(fd.valid());
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof addr.sun_path) << path;
  path.copy(addr.sun_path, path.size());
  ASSERT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr),
            0)
      << path;
}

// A descriptor open for writing on |path|, created or emptied (mode 0600),
// closed when its owner goes; invalid, and a failure, when it cannot be.
inline UniqueFd create_file(const std::string& path) {
  UniqueFd fd(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  EXPECT_TRUE(fd.valid()) << path << ": " << std::strerror(errno);
  return fd;
}

// A descriptor open for reading on |path|; invalid, and a failure, when
// it cannot be opened.
inline UniqueFd open_file(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  EXPECT_TRUE(fd.valid()) << path << ": " << std::strerror(errno);
  return fd;
}

// The names in |dir| in the order the file system lists them, without
// "." and "..".
inline std::vector<std::string> listing_order(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = ::opendir(dir.c_str());
  EXPECT_NE(d, nullptr) << dir;
  if (d == nullptr) return names;
  while (const dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
      names.push_back(e->d_name);
  }
  ::closedir(d);
  return names;
}

// |size| bytes that do not compress, the same for the same |seed| (a
// nonzero one; 0 picks the default).
inline std::string random_bytes(size_t size,
                                uint64_t seed = 88172645463325252ull) {
  if (seed == 0) seed = 88172645463325252ull;
  std::string s(size, '\0');
  for (char& c : s) {  // xorshift64
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    c = static_cast<char>(seed >> 24);
  }
  return s;
}

// Whether the file system under |dir| reports holes: a file with data at
// its start and a long hole after it must not look like one data region.
inline bool reports_holes(const std::string& dir) {
  const std::string probe = dir + "/hole-probe";
  UniqueFd fd(::open(probe.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  const bool holes = fd.valid() && ::pwrite(fd.get(), "x", 1, 0) == 1 &&
                     ::ftruncate(fd.get(), 4 << 20) == 0 &&
                     ::lseek(fd.get(), 0, SEEK_HOLE) < (4 << 20);
  ::unlink(probe.c_str());
  return holes;
}

// Makes each system call in |numbers| fail with |err|, without running, on
// the calling thread and whatever it starts later, as a sandbox's seccomp
// profile does; for a forked child of a test, as the filter stays. Returns
// false when the filter cannot be installed.
inline bool refuse_system_calls(const std::vector<long>& numbers, int err) {
  std::vector<sock_filter> program{
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))};
  auto to_refusal = static_cast<unsigned char>(numbers.size());
  for (long number : numbers)
    program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K,
                               static_cast<uint32_t>(number), to_refusal--, 0));
  program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  program.push_back(BPF_STMT(BPF_RET | BPF_K,
                             SECCOMP_RET_ERRNO | static_cast<uint32_t>(err)));
  const sock_fprog filter{static_cast<unsigned short>(program.size()),
                          program.data()};
  return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) == 0;
}

}  // namespace diagpack::test
