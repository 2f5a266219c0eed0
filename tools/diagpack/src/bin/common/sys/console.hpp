// The two output streams of a run. Each line is written with its line feed
// in one go, straight to the descriptor, so nothing waits in a buffer.
// A line that cannot be written (a closed stream, a reader that has gone)
// is dropped: the run goes on and its files are unaffected.
#pragma once

#include <string_view>

namespace diagpack {

struct Console {
  int out_fd = 1;
  int err_fd = 2;

  void out_line(std::string_view text) const;
  void err_line(std::string_view text) const;
  // Writes |bytes| as they are, ignoring failures.
  static void write_raw(int fd, std::string_view bytes);
};

}  // namespace diagpack
