#include "sys/fd_io.hpp"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "base/utf8.hpp"  // is_valid_utf8, kStreamNotUtf8Text
#include "sys/unique_fd.hpp"

namespace diagpack {

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

Result<std::string> read_to_end(int fd, size_t size_hint) {
  std::string out;
  out.reserve(size_hint);
  char buf[8192];
  for (;;) {
    auto n = read_some(fd, buf, sizeof buf);
    if (!n) return n.take_error();
    if (*n == 0) return out;
    out.append(buf, *n);
  }
}

Result<std::string> read_text_to_end(int fd, size_t size_hint) {
  auto text = read_to_end(fd, size_hint);
  if (text && !is_valid_utf8(*text))
    return Error::fixed(ErrorKind::InvalidData,
                        std::string(kStreamNotUtf8Text));
  return text;
}

Status write_file(const std::string& path, std::string_view bytes) {
  auto fd = open_fd(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0666);
  if (!fd) return fd.take_error();
  if (auto st = write_all(fd->get(), bytes); !st) return st;
  return fd->close_checked();
}

}  // namespace diagpack
