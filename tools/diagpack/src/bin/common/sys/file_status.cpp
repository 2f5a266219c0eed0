#include "sys/file_status.hpp"

#include <errno.h>

namespace diagpack {

Result<struct stat> status_following_links(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return Error::os(errno);
  return st;
}

Result<struct stat> status_of_link(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return Error::os(errno);
  return st;
}

Result<struct stat> status_of_fd(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return Error::os(errno);
  return st;
}

}  // namespace diagpack
