#include "sys/unique_fd.hpp"

#include <errno.h>
#include <fcntl.h>   // open, openat, fcntl
#include <unistd.h>  // close

namespace diagpack {

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

Status UniqueFd::close_checked() {
  int fd = release();
  if (fd < 0) return {};
  if (::close(fd) != 0 && errno != EINTR) return Error::os(errno);
  return {};
}

Result<UniqueFd> open_fd(const std::string& path, int flags, unsigned mode) {
  return open_fd_at(AT_FDCWD, path, flags, mode);
}

Result<UniqueFd> open_for_reading(const std::string& path) {
  auto fd = open_fd(path, O_RDONLY | O_NONBLOCK);
  if (!fd) return fd;
  int flags = ::fcntl(fd->get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd->get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
    return Error::os(errno);
  return fd;
}

Result<UniqueFd> open_fd_at(int dir_fd, const std::string& name, int flags,
                            unsigned mode) {
  for (;;) {
    int fd = ::openat(dir_fd, name.c_str(), flags | O_CLOEXEC, mode);
    if (fd >= 0) return UniqueFd(fd);
    if (errno != EINTR) return Error::os(errno);
  }
}

}  // namespace diagpack
