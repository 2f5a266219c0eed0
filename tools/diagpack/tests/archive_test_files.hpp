// Scratch files for the archive writer tests: a private temporary
// directory, files with chosen content and holes, and whole-file reads.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>  // mkdtemp, getenv
#include <unistd.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace diagpack::test {

class ScratchDir {
 public:
  ScratchDir() {
    const char* tmp = ::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp && *tmp ? tmp : "/tmp") + "/diagpack-tar-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(std::string_view name) const {
    return path_ + "/" + std::string(name);
  }

 private:
  std::string path_;
};

// Writes |bytes| at |offset| of |path|, creating the file (mode 0644).
inline void pwrite_file(const std::string& path, std::string_view bytes,
                        off_t offset = 0) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), offset),
            static_cast<ssize_t>(bytes.size()));
  ::close(fd);
}

inline std::string read_whole(const std::string& path) {
  std::string out;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return out;
  char buf[65536];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0)
    out.append(buf, static_cast<size_t>(n));
  ::close(fd);
  return out;
}

// Whether the file system under |dir| reports holes: a file with data at
// its start and a long hole after it must not look like one data region.
inline bool reports_holes(const std::string& dir) {
  std::string probe = dir + "/hole-probe";
  int fd = ::open(probe.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool holes = ::pwrite(fd, "x", 1, 0) == 1 && ::ftruncate(fd, 4 << 20) == 0 &&
               ::lseek(fd, 0, SEEK_HOLE) < (4 << 20);
  ::close(fd);
  ::unlink(probe.c_str());
  return holes;
}

}  // namespace diagpack::test
