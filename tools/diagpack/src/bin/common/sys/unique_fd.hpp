// UniqueFd owns one file descriptor and closes it when it goes away.
// close() is never retried: on Linux the descriptor is gone even when close
// reports EINTR. Use close_checked() where the close result matters (a file
// just written, whose last data the close may still fail to store).
#pragma once

#include <string>

#include "base/result.hpp"

namespace diagpack {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1);
  // Closes the descriptor and reports the close error, if any.
  Status close_checked();

 private:
  int fd_ = -1;
};

// open(2) with O_CLOEXEC added, retried on EINTR. Returns the descriptor or
// the errno of the open.
Result<UniqueFd> open_fd(const std::string& path, int flags, unsigned mode = 0);

// Opens |path| for reading without waiting for a writer when it names a
// FIFO: O_NONBLOCK for the open, cleared again once it is open, so later
// reads behave as usual (a FIFO without a writer then reads as empty).
Result<UniqueFd> open_for_reading(const std::string& path);

// openat(2) likewise.
Result<UniqueFd> open_fd_at(int dir_fd, const std::string& name, int flags,
                            unsigned mode = 0);

}  // namespace diagpack
