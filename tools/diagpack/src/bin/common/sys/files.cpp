#include "sys/files.hpp"

#include <errno.h>
#include <fcntl.h>    // open flags, fcntl
#include <limits.h>   // IOV_MAX
#include <sys/uio.h>  // writev
#include <unistd.h>   // read, write, pread, lseek, unlink

#include <algorithm>  // std::min
#include <vector>

#include "base/utf8.hpp"    // Utf8Checker, kStreamNotUtf8Text
#include "sys/signals.hpp"  // InterruptWatch

namespace diagpack {

Result<UniqueFd> open_fd(const std::string& path, int flags, unsigned mode) {
  return open_fd_at(AT_FDCWD, path, flags, mode);
}

Result<UniqueFd> open_fd_at(int dir_fd, const std::string& name, int flags,
                            unsigned mode) {
  for (;;) {
    int fd = ::openat(dir_fd, name.c_str(), flags | O_CLOEXEC, mode);
    if (fd >= 0) return UniqueFd(fd);
    if (errno != EINTR) return Error::os(errno);
  }
}

namespace {

// Clears O_NONBLOCK on a descriptor that was opened with it so that the
// open could not wait.
Status clear_nonblocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
    return Error::os(errno);
  return {};
}

Result<OpenFile> open_with(const std::string& path, int extra_flags) {
  auto fd = open_fd(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | extra_flags);
  if (!fd) return fd.take_error();
  auto st = status_of_fd(fd->get());
  if (!st) return st.take_error();
  if (Status cleared = clear_nonblocking(fd->get()); !cleared)
    return cleared.take_error();
  return OpenFile{std::move(*fd), *st};
}

bool same_link(const struct stat& a, const struct stat& b) {
  return S_ISLNK(b.st_mode) && a.st_dev == b.st_dev && a.st_ino == b.st_ino &&
         a.st_uid == b.st_uid && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
         a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

}  // namespace

Result<UniqueFd> create_for_writing(const std::string& path, unsigned mode) {
  auto fd = open_fd(
      path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY,
      mode);
  if (!fd) return fd;
  if (Status cleared = clear_nonblocking(fd->get()); !cleared)
    return cleared.take_error();
  return fd;
}

Result<OpenFile> open_for_reading(const std::string& path) {
  return open_with(path, 0);
}

// rename(2) sets the change time of what it moves, so a link taken away and
// put back between the two looks no longer matches the first one.
Result<OpenedEntry> open_entry_for_reading(const std::string& path) {
  auto before = status_of_link(path);
  if (!before) return before.take_error();
  if (!S_ISLNK(before->st_mode)) {
    auto file = open_with(path, O_NOFOLLOW);
    if (!file && file.error().os_code() == ELOOP) return Error::os(EACCES);
    if (!file) return file.take_error();
    return OpenedEntry{std::move(*file), std::nullopt};
  }
  auto file = open_with(path, 0);
  if (!file) return file.take_error();
  auto after = status_of_link(path);
  if (!after || !same_link(*before, *after)) return Error::os(EACCES);
  return OpenedEntry{std::move(*file), *before};
}

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

Status write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return Error::os(errno);
    }
    if (n == 0)
      return Error::fixed(ErrorKind::Other, std::string(kWriteZeroText));
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return {};
}

Status write_all(int fd, std::span<const std::string_view> pieces) {
  std::vector<iovec> iov;
  iov.reserve(pieces.size());
  for (std::string_view piece : pieces)
    if (!piece.empty())
      iov.push_back(iovec{const_cast<char*>(piece.data()), piece.size()});
  size_t first = 0;
  while (first < iov.size()) {
    const int count = static_cast<int>(
        std::min<size_t>(iov.size() - first, static_cast<size_t>(IOV_MAX)));
    ssize_t n = ::writev(fd, &iov[first], count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Error::os(errno);
    }
    if (n == 0)
      return Error::fixed(ErrorKind::Other, std::string(kWriteZeroText));
    // Past the pieces written whole, into the one written in part.
    for (auto done = static_cast<size_t>(n); done > 0;) {
      iovec& v = iov[first];
      const size_t step = std::min(done, v.iov_len);
      v.iov_base = static_cast<char*>(v.iov_base) + step;
      v.iov_len -= step;
      done -= step;
      if (v.iov_len == 0) ++first;
    }
  }
  return {};
}

Result<size_t> read_some(int fd, char* buf, size_t size) {
  for (;;) {
    ssize_t n = ::read(fd, buf, size);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) return Error::os(errno);
  }
}

Result<size_t> read_at(int fd, char* buf, size_t size, uint64_t offset) {
  size_t done = 0;
  while (done < size) {
    ssize_t n =
        ::pread(fd, buf + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Error::os(errno);
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

namespace {

// read_to_end, each piece also fed to |checker| (when given) as it
// arrives, so a text is judged while its bytes are still in the cache.
Result<std::string> read_pieces(int fd, size_t size_hint,
                                const InterruptWatch* interrupts,
                                Utf8Checker* checker) {
  std::string out;
  out.reserve(size_hint);
  char buf[65536];
  size_t unchecked = 0;
  for (;;) {
    auto n = read_some(fd, buf, sizeof buf);
    if (!n) return n.take_error();
    if (*n == 0) return out;
    out.append(buf, *n);
    if (checker) checker->feed(std::string_view(buf, *n));
    if ((unchecked += *n) >= kInterruptPollBytes) {
      unchecked = 0;
      if (interrupts && interrupts->pending()) return Error::interrupted();
    }
  }
}

}  // namespace

Result<std::string> read_to_end(int fd, size_t size_hint,
                                const InterruptWatch* interrupts) {
  return read_pieces(fd, size_hint, interrupts, nullptr);
}

Result<std::string> read_text_to_end(int fd, size_t size_hint,
                                     const InterruptWatch* interrupts) {
  Utf8Checker checker;
  auto text = read_pieces(fd, size_hint, interrupts, &checker);
  if (text && checker.finish())
    return Error::fixed(ErrorKind::InvalidData,
                        std::string(kStreamNotUtf8Text));
  return text;
}

Status write_file(const std::string& path,
                  std::span<const std::string_view> pieces) {
  auto fd = create_for_writing(path, 0644);
  if (!fd) return fd.take_error();
  if (auto st = write_all(fd->get(), pieces); !st) return st;
  return fd->close_checked();
}

Status write_file(const std::string& path, std::string_view bytes) {
  return write_file(path, std::span<const std::string_view>(&bytes, 1));
}

std::optional<uint64_t> first_hole(int fd) {
  const off_t hole = ::lseek(fd, 0, SEEK_HOLE);
  if (hole < 0) return std::nullopt;
  return static_cast<uint64_t>(hole);
}

Result<DataRegionStep> next_data_region(int fd, uint64_t offset) {
  using Kind = DataRegionStep::Kind;
  const off_t data = ::lseek(fd, static_cast<off_t>(offset), SEEK_DATA);
  if (data < 0) {
    if (errno == ENXIO) return DataRegionStep{Kind::NoMoreData, 0, 0};
    return Error::os(errno);
  }
  const off_t hole = ::lseek(fd, data, SEEK_HOLE);
  if (hole < 0) {
    if (errno == ENXIO)
      return DataRegionStep{Kind::HoleVanished, static_cast<uint64_t>(data), 0};
    return Error::os(errno);
  }
  return DataRegionStep{Kind::Region, static_cast<uint64_t>(data),
                        static_cast<uint64_t>(hole)};
}

Status remove_file(const std::string& path) {
  if (::unlink(path.c_str()) == 0 || errno == ENOENT) return {};
  return Error::os(errno);
}

}  // namespace diagpack
