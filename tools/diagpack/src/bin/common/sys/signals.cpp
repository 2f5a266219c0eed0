// Why the stop signals are blocked and read from a signalfd instead of
// being caught by a handler.
//
// A handler would run at an arbitrary point of the run, on whichever
// thread the kernel picks (the gzip encoder's workers included), and could
// do nothing but set a flag that some global state must hold. Blocking the
// three signals on the main thread before any other thread starts keeps
// them pending for the process as a whole: no thread ever runs a handler
// or ends by them, and no system call is interrupted. The signalfd then
// reports them as ordinary data: the run polls it beside the package
// manager's pipes (so that wait wakes up at once) and reads it between its
// steps, and whoever takes a signal cleans up on the main thread and ends
// the process by that same signal. There is no handler and no global
// state at all.
//
// A signal that the caller left ignored or blocked is the caller's choice
// and stays as it was: the watch neither reads nor unblocks it.
//
// Signals are blocked only while the watch exists; a signal still pending
// when it goes away is delivered as usual on unblocking. The child
// processes of the run are started with an empty signal mask, so they
// never inherit the block.
#include "sys/signals.hpp"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace diagpack {

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

bool inherited_as_ignored(int signo) {
  struct sigaction current = {};
  return ::sigaction(signo, nullptr, &current) == 0 &&
         current.sa_handler == SIG_IGN;
}

sigset_t set_of(unsigned long bits) {
  sigset_t set;
  sigemptyset(&set);
  for (int signo : kStopSignals)
    if (bits & (1UL << signo)) sigaddset(&set, signo);
  return set;
}

}  // namespace

InterruptWatch::InterruptWatch() {
  sigset_t inherited_mask;
  if (::pthread_sigmask(SIG_BLOCK, nullptr, &inherited_mask) != 0) return;
  unsigned long bits = 0;
  for (int signo : kStopSignals)
    if (!inherited_as_ignored(signo) &&
        sigismember(&inherited_mask, signo) != 1)
      bits |= 1UL << signo;
  if (bits == 0) return;
  const sigset_t set = set_of(bits);
  if (::pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return;
  const int fd = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  if (fd < 0) {
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    return;
  }
  fd_.reset(fd);
  blocked_ = bits;
}

InterruptWatch::~InterruptWatch() {
  fd_.reset();
  if (blocked_ == 0) return;
  const sigset_t set = set_of(blocked_);
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

bool InterruptWatch::pending() const {
  if (!fd_.valid()) return false;
  pollfd polled{fd_.get(), POLLIN, 0};
  int n;
  while ((n = ::poll(&polled, 1, 0)) < 0 && errno == EINTR) {
  }
  return n > 0 && (polled.revents & POLLIN) != 0;
}

std::optional<int> InterruptWatch::take() {
  if (!fd_.valid()) return std::nullopt;
  signalfd_siginfo info;
  for (;;) {
    ssize_t n = ::read(fd_.get(), &info, sizeof info);
    if (n == static_cast<ssize_t>(sizeof info))
      return static_cast<int>(info.ssi_signo);
    if (n < 0 && errno == EINTR) continue;
    return std::nullopt;  // EAGAIN: nothing pending
  }
}

void end_by_signal(int signo) {
  struct sigaction default_action = {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  ::sigaction(signo, &default_action, nullptr);
  // Raised while still blocked, the signal waits until the unblock below,
  // which delivers it to this thread at once.
  ::raise(signo);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signo);
  ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::_exit(128 + signo);
}

void ignore_write_signals() {
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace diagpack
