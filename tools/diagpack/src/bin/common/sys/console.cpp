#include "sys/console.hpp"

#include <fcntl.h>      // fcntl, open
#include <sys/ioctl.h>  // ioctl, TIOCGWINSZ
#include <unistd.h>     // isatty, close

#include <string>

#include "sys/files.hpp"  // write_all

namespace diagpack {

void Console::write_raw(int fd, std::string_view bytes) {
  (void)write_all(fd, bytes);
}

void Console::out_line(std::string_view text) const {
  write_raw(out_fd, std::string(text) + "\n");
}

void Console::err_line(std::string_view text) const {
  write_raw(err_fd, std::string(text) + "\n");
}

bool is_terminal(int fd) { return ::isatty(fd) == 1; }

std::optional<size_t> terminal_columns(int fd) {
  winsize size = {};
  if (::ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0)
    return std::nullopt;
  return size.ws_col;
}

void open_missing_standard_streams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    // open() hands out the lowest free descriptor, which is |fd| itself.
    int got = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (got >= 0 && got != fd) ::close(got);
  }
}

}  // namespace diagpack
