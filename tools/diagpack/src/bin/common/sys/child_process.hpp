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

#include "base/result.hpp"
#include "sys/unique_fd.hpp"

namespace diagpack {

// What a finished child left: the wait status as waitpid reports it, and all
// the bytes it wrote to standard output.
struct ChildOutput {
  int wait_status = 0;
  std::string out;
};

// The error of a wait that a readable wake descriptor cut short.
inline constexpr std::string_view kChildStoppedText =
    "the child process was stopped";

// True when |wait_status| is a normal exit with code 0.
bool exited_zero(int wait_status);

// Owns one started child and the parent's ends of its two output pipes.
// Move-only. A child that has not been waited for when its owner goes away
// is killed (SIGKILL, with its whole process group) and reaped: it never
// outlives its owner, nor is it left a zombie.
class ChildProcess {
 public:
  // Starts argv[0], searched for in the PATH of this process's environment,
  // with |argv| as its arguments, the environment and working directory
  // inherited, stdin on /dev/null (read-only), stdout and stderr on pipes,
  // as the leader of a new process group (so that it and whatever it starts
  // can be stopped together, and a terminal's Ctrl-C reaches this process
  // alone, which then stops the child itself).
  // |argv| must not be empty. Returns the child or the OS error of the pipe,
  // the open of /dev/null or the spawn (a program not found on PATH gives
  // ENOENT).
  static Result<ChildProcess> start(const std::vector<std::string>& argv);

  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  // Reads both pipes until both reach end of file (standard error is
  // dropped as it arrives), then waits for the child to end; no time limit.
  // When |wake_fd| (if not -1) turns readable first, the child is stopped
  // (stop()) and the result is kChildStoppedText, kind Interrupted; the
  // descriptor is only polled, never read. Otherwise returns the output and
  // wait status, or the OS error of poll, read or waitpid. Call once.
  Result<ChildOutput> finish(int wake_fd = -1);

  // Stops the child's process group: SIGTERM, then SIGKILL once the child
  // has ended or kStopGraceMs have passed, whichever comes first, and reaps
  // the child. Closes the pipes first.
  void stop();

  static constexpr int kStopGraceMs = 500;

 private:
  ChildProcess(pid_t pid, UniqueFd out, UniqueFd err)
      : pid_(pid), out_(std::move(out)), err_(std::move(err)) {}
  // Kills and reaps a child that is still ours.
  void abandon();

  pid_t pid_ = -1;  // -1 once reaped
  UniqueFd out_;
  UniqueFd err_;
};

// start() then finish(wake_fd).
Result<ChildOutput> run_child(const std::vector<std::string>& argv,
                              int wake_fd = -1);

}  // namespace diagpack
