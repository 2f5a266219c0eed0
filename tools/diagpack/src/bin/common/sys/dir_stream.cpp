#include "sys/dir_stream.hpp"

#include <errno.h>
#include <string.h>  // strcmp

namespace diagpack {

namespace {

bool is_dot_or_dot_dot(const char* name) {
  return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

}  // namespace

void DirStream::reset() {
  if (dir_ != nullptr) ::closedir(dir_);
  dir_ = nullptr;
}

int DirStream::fd() const { return ::dirfd(dir_); }

Result<const struct dirent*> DirStream::next() {
  for (;;) {
    // readdir signals an error only through errno; the end of the listing
    // leaves it untouched.
    errno = 0;
    const struct dirent* entry = ::readdir(dir_);
    if (entry == nullptr) {
      if (errno != 0) return Error::os(errno);
      return entry;
    }
    if (!is_dot_or_dot_dot(entry->d_name)) return entry;
  }
}

Result<DirStream> open_dir(const std::string& path) {
  for (;;) {
    DIR* dir = ::opendir(path.c_str());
    if (dir != nullptr) return DirStream(dir);
    if (errno != EINTR) return Error::os(errno);
  }
}

Result<DirStream> open_dir(UniqueFd fd) {
  DIR* dir = ::fdopendir(fd.get());
  if (dir == nullptr) return Error::os(errno);
  fd.release();
  return DirStream(dir);
}

}  // namespace diagpack
