// Signals. InterruptWatch: the signals by which a user or the system asks a
// run to stop (SIGINT, SIGTERM, SIGHUP), taken as data read from a
// descriptor instead of as asynchronous events, so that the run can stop
// its child, remove what it made and only then end by the same signal.
// Beside it, the signals a run never wants to die of.
#pragma once

#include <cstddef>
#include <optional>

#include "sys/unique_fd.hpp"

namespace diagpack {

// How far a long loop (a read, a parse) goes between two looks at an
// InterruptWatch: a few milliseconds of work, and one poll(2) that costs
// next to nothing beside it.
inline constexpr size_t kInterruptPollBytes = size_t{4} << 20;

class InterruptWatch {
 public:
  // Blocks the stop signals on the calling thread and opens a signalfd for
  // them. Create it on the main thread before any other thread exists:
  // threads started later inherit the blocked mask, so only the signalfd
  // ever sees these signals. A signal that this process inherited as
  // ignored (nohup, a background job of a shell) or blocked is left alone
  // and stays as it was. When no signalfd can be had, nothing is blocked and
  // the signals keep their default action (the process ends at once).
  InterruptWatch();
  // Closes the signalfd and unblocks the signals again; one still pending
  // then takes its default action.
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  // A descriptor that polls readable once a stop signal is pending, for a
  // poll set of something that waits; -1 (ignored by poll) when inactive.
  int fd() const { return fd_.get(); }

  // Whether a stop signal is pending, without taking it.
  bool pending() const;

  // Takes one pending stop signal: its number, or nothing when none is
  // pending (or the watch is inactive).
  std::optional<int> take();

 private:
  UniqueFd fd_;
  // The signals this watch blocked: bit n for signal n.
  unsigned long blocked_ = 0;
};

// Ends the process by |signo|: its action is reset to the default, it is
// raised and unblocked, so the process ends as if the signal had never
// been caught and its parent sees that (status 130 for SIGINT in a shell).
// Falls back to _exit(128 + signo) should the signal not end it.
[[noreturn]] void end_by_signal(int signo);

// Ignores the signals by which a write would end the process: SIGPIPE, so
// that writing to a pipe whose reader has gone fails with EPIPE, and
// SIGXFSZ, so that a write beyond the file size limit (ulimit -f) fails
// with EFBIG. Either is then the failure of the step that wrote, and the
// run goes on. Child processes get both back at their defaults.
void ignore_write_signals();

}  // namespace diagpack
