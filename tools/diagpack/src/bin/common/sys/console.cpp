#include "sys/console.hpp"

#include <string>

#include "sys/fd_io.hpp"

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

}  // namespace diagpack
