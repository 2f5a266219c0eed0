// The two output streams of a run. Each line is written with its line feed
// in one go, straight to the descriptor, so nothing waits in a buffer.
// A line that cannot be written (a closed stream, a reader that has gone)
// is dropped: the run goes on and its files are unaffected. Beside it, what
// the process needs of its standard streams: whether one is a terminal and
// how wide, and all three open.
#pragma once

#include <cstddef>
#include <optional>
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

// Whether |fd| is a terminal. Any failure, a closed descriptor included,
// means it is not.
bool is_terminal(int fd);

// The width in columns of the terminal on |fd| (TIOCGWINSZ), or nothing when
// it is not a terminal or does not know its size (a width of 0).
std::optional<size_t> terminal_columns(int fd);

// Opens /dev/null on each of the descriptors 0, 1 and 2 that is closed, so
// that no file the run opens later takes the place of a standard stream.
// Best effort: a failure leaves that descriptor closed.
void open_missing_standard_streams();

}  // namespace diagpack
