// Directories, with errors as values: listing one (DirStream owns the open
// listing), creating one, and removing a whole tree without ever following
// a symbolic link.
#pragma once

#include <dirent.h>  // DIR, struct dirent

#include <string>

#include "base/result.hpp"
#include "sys/unique_fd.hpp"

namespace diagpack {

// One open directory listing (a DIR*), closed when it goes away. Read one
// entry at a time; "." and ".." are passed over here so that no caller has
// to remember them.
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

// Creates the directory |path| with |mode| (narrowed by the umask). Returns
// the mkdir error (EEXIST when anything stands there, a link included).
Status make_directory(const std::string& path, unsigned mode);

// Removes |path| and everything below it, never following a symbolic link:
// every directory is opened relative to its parent with O_NOFOLLOW and
// entries are removed with unlinkat, so a link planted anywhere in the
// tree is removed itself and its target is never touched. A link at |path|
// is unlinked (its target stays). An entry below |path| that vanishes
// while the tree is removed is skipped. Returns the status error of |path|
// or the first other error; what was removed by then stays removed.
//
// The walk keeps one open directory per level of the tree on an explicit
// stack, so depth costs descriptors (EMFILE ends a tree deeper than the
// descriptor limit) but never the call stack.
Status remove_dir_all(const std::string& path);

}  // namespace diagpack
