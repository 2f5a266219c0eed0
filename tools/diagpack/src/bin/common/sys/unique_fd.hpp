// UniqueFd owns one file descriptor and closes it when it goes away.
// close() is never retried: on Linux the descriptor is gone even when close
// reports EINTR. Use close_checked() where the close result matters (a file
// just written, whose last data the close may still fail to store).
#pragma once

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

}  // namespace diagpack
