// DirStream owns one open directory listing (a DIR*) and closes it when it
// goes away. Listings are read one entry at a time; "." and ".." are
// passed over here so that no caller has to remember them.
#pragma once

#include <dirent.h>  // DIR, struct dirent

#include <string>

#include "base/result.hpp"
#include "sys/unique_fd.hpp"

namespace diagpack {

class DirStream {
 public:
  DirStream() = default;
  explicit DirStream(DIR* dir) : dir_(dir) {}
  ~DirStream() { reset(); }
  DirStream(DirStream&& other) noexcept : dir_(other.dir_) {
    other.dir_ = nullptr;
  }
  DirStream& operator=(DirStream&& other) noexcept {
    if (this != &other) {
      reset();
      dir_ = other.dir_;
      other.dir_ = nullptr;
    }
    return *this;
  }
  DirStream(const DirStream&) = delete;
  DirStream& operator=(const DirStream&) = delete;

  // The descriptor under the listing, for the *at() calls.
  int fd() const;

  // The next entry other than "." and "..", or nullptr at the end of the
  // listing. The entry stays valid until the next call. Returns the
  // readdir error.
  Result<const struct dirent*> next();

 private:
  void reset();
  DIR* dir_ = nullptr;
};

// Lists the directory at |path|, following links. Returns the open error.
Result<DirStream> open_dir(const std::string& path);

// Lists the directory open on |fd|, which the DirStream then owns. Returns
// the fdopendir error (the descriptor is closed then).
Result<DirStream> open_dir(UniqueFd fd);

}  // namespace diagpack
