#include "sys/unique_fd.hpp"

#include <errno.h>
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

}  // namespace diagpack
