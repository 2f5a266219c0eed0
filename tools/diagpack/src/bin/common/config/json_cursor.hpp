// The configuration reader's place in its text, shared by the pieces that
// read values, strings and numbers. Each step looks at the byte under |pos|
// and either accepts it or fails "just past" it, so a failure is one byte
// offset; line and column are worked out from it only when an error is
// raised (see json_reader.hpp for the position rule).
//
// Reading a text of gigabytes takes seconds, so the loops that can run
// long (values one after another, whitespace, the bytes of a string, the
// digits of a number) ask stop_requested() as they go: every
// kInterruptPollBytes of progress it looks at the run's InterruptWatch, and
// once a stop signal is pending the reader fails with |interrupted| set.
#pragma once

#include <cstddef>
#include <string_view>

#include "sys/signals.hpp"  // InterruptWatch, kInterruptPollBytes

namespace diagpack {

// Raised wherever the text ends while a value, or the rest of one, is due.
inline constexpr std::string_view kJsonEofValueText =
    "EOF while parsing a value";

// An ASCII digit, the only digits JSON knows.
inline bool is_json_digit(char c) { return c >= '0' && c <= '9'; }

struct JsonCursor {
  explicit JsonCursor(std::string_view whole) : text(whole) {}

  bool at_end() const { return pos >= text.size(); }
  // Requires !at_end().
  char current() const { return text[pos]; }

  // Each failure records the message and where the reader stopped, and
  // returns false so that callers unwind with `return cursor.fail...`.
  bool fail_at(std::string_view why, size_t where) {
    message = why;
    stop = where;
    return false;
  }
  // The byte under |pos| cannot be accepted.
  bool fail_past_current(std::string_view why) { return fail_at(why, pos + 1); }
  // The text ended early: the "EOF while parsing ..." failures.
  bool fail_at_end(std::string_view why) {
    ended_early = true;
    return fail_at(why, text.size());
  }

  // Whether the reader must stop because a stop signal is pending, looked
  // at only every kInterruptPollBytes of progress (a compare otherwise).
  bool stop_requested() {
    if (pos < next_poll) return false;
    next_poll = pos + kInterruptPollBytes;
    interrupted = interrupts != nullptr && interrupts->pending();
    return interrupted;
  }

  std::string_view text;
  size_t pos = 0;
  // Set by the first failure.
  std::string_view message;
  size_t stop = 0;
  bool ended_early = false;
  // Looked at by stop_requested(); null for a reader that never stops.
  const InterruptWatch* interrupts = nullptr;
  size_t next_poll = kInterruptPollBytes;
  bool interrupted = false;  // the reader stopped for a stop signal
};

}  // namespace diagpack
