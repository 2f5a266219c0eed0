#include "sys/directories.hpp"

#include <errno.h>
#include <fcntl.h>     // openat flags, AT_REMOVEDIR
#include <string.h>    // strcmp
#include <sys/stat.h>  // lstat, mkdir
#include <unistd.h>    // unlink, unlinkat, rmdir

#include <vector>

#include "sys/files.hpp"  // open_fd_at

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

Status make_directory(const std::string& path, unsigned mode) {
  if (::mkdir(path.c_str(), static_cast<mode_t>(mode)) != 0)
    return Error::os(errno);
  return {};
}

namespace {

// Opens a directory for removal, refusing to follow a link in its place.
constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW;

// One directory being emptied: its open listing and its name in the
// directory one level up (empty for the top).
struct Level {
  DirStream listing;
  std::string name;
};

// unlinkat(2), treating an entry that has already gone as removed.
Status unlink_entry(int dir_fd, const char* name, int flags) {
  if (::unlinkat(dir_fd, name, flags) == 0 || errno == ENOENT) return {};
  return Error::os(errno);
}

Result<DirStream> open_level(int dir_fd, const std::string& name) {
  auto fd = open_fd_at(dir_fd, name, kDirFlags);
  if (!fd) return fd.take_error();
  return open_dir(std::move(*fd));
}

}  // namespace

Status remove_dir_all(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return Error::os(errno);
  if (S_ISLNK(st.st_mode)) {
    if (::unlink(path.c_str()) != 0) return Error::os(errno);
    return {};
  }

  std::vector<Level> stack;
  {
    auto top = open_level(AT_FDCWD, path);
    if (!top) return top.take_error();
    stack.push_back(Level{std::move(*top), std::string()});
  }

  while (!stack.empty()) {
    Level& level = stack.back();
    auto entry = level.listing.next();
    if (!entry) return entry.take_error();

    if (*entry == nullptr) {
      // This directory is empty now: close it, then remove it from its
      // parent (the top is removed by its path below).
      std::string name = std::move(level.name);
      stack.pop_back();
      if (stack.empty()) break;
      Status removed =
          unlink_entry(stack.back().listing.fd(), name.c_str(), AT_REMOVEDIR);
      if (!removed) return removed;
      continue;
    }

    const char* name = (*entry)->d_name;
    const unsigned char type = (*entry)->d_type;
    const int dir_fd = level.listing.fd();
    if (type != DT_DIR && type != DT_UNKNOWN) {
      Status removed = unlink_entry(dir_fd, name, 0);
      if (!removed) return removed;
      continue;
    }

    std::string child_name(name);
    auto child = open_level(dir_fd, child_name);
    if (child) {
      // |level| may move when the stack grows; nothing uses it after this.
      stack.push_back(Level{std::move(*child), std::move(child_name)});
      continue;
    }
    const int code = child.error().os_code();
    if (code == ENOENT) continue;  // vanished since it was listed
    if (code != ENOTDIR && code != ELOOP) return child.take_error();
    // Not a directory after all (a link, or a type the listing did not
    // report): remove the entry itself.
    Status removed = unlink_entry(dir_fd, child_name.c_str(), 0);
    if (!removed) return removed;
  }

  if (::rmdir(path.c_str()) != 0) return Error::os(errno);
  return {};
}

}  // namespace diagpack
