// A child process run to completion: started through PATH without a shell,
// in a process group of its own, its standard input on /dev/null, its
// standard output collected in full and its standard error read and
// dropped, from two pipes that are drained together, so that the child
// never blocks on a full pipe, whichever of the two it floods.
#pragma once

#include <sys/types.h>  // pid_t

#include <string>
#include <string_view>
#include <vector>

#include "base/chunked_bytes.hpp"
#include "base/environment.hpp"
#include "base/piece_observer.hpp"
#include "base/result.hpp"
#include "sys/unique_fd.hpp"

namespace diagpack {

// What a finished child left: the wait status as waitpid reports it, and all
// the bytes it wrote to standard output, in chunks (never copied to make
// room, however much it wrote).
struct ChildOutput {
  int wait_status = 0;
  ChunkedBytes out;
};

// True when |wait_status| is a normal exit with code 0.
bool exited_zero(int wait_status);

// What the C library searches when PATH is unset.
inline constexpr std::string_view kDefaultSearchPath = "/bin:/usr/bin";

// The file that executing |name| with the environment |env| would run:
// |name| itself when it holds a "/", else the first "<dir>/<name>" that is
// an executable regular file, for the elements <dir> of env's PATH in
// order. An empty element never means the working directory (a program
// planted there must not run as root): it is skipped, and a PATH with no
// element left, or no PATH at all, is kDefaultSearchPath. Returns ENOENT
// when nothing is found, EACCES when a candidate exists but cannot be
// executed (as execvp tells them apart).
Result<std::string> find_program(std::string_view name, const Environment& env);

// Owns one started child and the parent's ends of its two output pipes.
// Move-only. A child that has not been waited for when its owner goes away
// is killed (SIGKILL, with its whole process group) and reaped: it never
// outlives its owner, nor is it left a zombie.
class ChildProcess {
 public:
  // Starts argv[0], found with find_program in the PATH of |env|, with
  // |argv| as its arguments, |env|'s variables as its environment, the
  // working directory inherited, stdin on /dev/null (read-only), stdout and
  // stderr on pipes,
  // as the leader of a new process group (so that it and whatever it starts
  // can be stopped together, and a terminal's Ctrl-C reaches this process
  // alone, which then stops the child itself).
  // Where a sandbox or an old kernel without /proc refuses the C library's
  // spawn, the child is started with fork and exec instead, to the same
  // effect. |argv| must not be empty. Returns the child or the OS error of
  // the pipe, the open of /dev/null, the search (ENOENT for a program not
  // found) or the start (the exec's error for a program that cannot run).
  static Result<ChildProcess> start(const std::vector<std::string>& argv,
                                    const Environment& env);

  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  // Reads both pipes until both reach end of file (standard output straight
  // into its chunks, standard error dropped as it arrives), then waits for
  // the child to end; no time limit. Throws std::bad_alloc when no chunk
  // can be had; the child is then killed and reaped as its owner goes.
  // When |wake_fd| (if not -1) turns readable first, the child is stopped
  // (stop()) and the result is Error::interrupted(); the
  // descriptor is only polled, never read. With |ticks|, the wait wakes at
  // least every kTickMs to call ticks->piece_done(0), and an error it
  // returns stops the child likewise and is the result; without it, the
  // wait sleeps in poll(2) with no timeout. Otherwise returns the output
  // and wait status, or the OS error of poll, read or waitpid. Call once.
  Result<ChildOutput> finish(int wake_fd = -1, PieceObserver* ticks = nullptr);

  // Stops the child's process group: SIGTERM, then SIGKILL once the child
  // has ended or kStopGraceMs have passed, whichever comes first, and reaps
  // the child. Closes the pipes first.
  void stop();

  static constexpr int kStopGraceMs = 500;
  // The longest a wait with ticks goes without one.
  static constexpr int kTickMs = 250;

 private:
  ChildProcess(pid_t pid, UniqueFd out, UniqueFd err)
      : pid_(pid), out_(std::move(out)), err_(std::move(err)) {}
  // Kills and reaps a child that is still ours.
  void abandon();

  pid_t pid_ = -1;  // -1 once reaped
  UniqueFd out_;
  UniqueFd err_;
};

// start() then finish(wake_fd, ticks).
Result<ChildOutput> run_child(const std::vector<std::string>& argv,
                              const Environment& env, int wake_fd = -1,
                              PieceObserver* ticks = nullptr);

}  // namespace diagpack
