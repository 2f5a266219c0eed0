// A child process run to completion: started through PATH without a shell,
// its standard input on /dev/null, its standard output collected in full
// and its standard error read and dropped, from two pipes that are drained
// together, so that the child never blocks on a full pipe, whichever of the
// two it floods.
#pragma once

#include <sys/types.h>  // pid_t

#include <string>
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

// True when |wait_status| is a normal exit with code 0.
bool exited_zero(int wait_status);

// Owns one started child and the parent's ends of its two output pipes.
// Move-only. A child that has not been waited for when its owner goes away
// is killed (SIGKILL) and reaped: it never outlives its owner, nor is it
// left a zombie.
class ChildProcess {
 public:
  // Starts argv[0], searched for in the PATH of this process's environment,
  // with |argv| as its arguments, the environment and working directory
  // inherited, stdin on /dev/null (read-only), stdout and stderr on pipes.
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
  // dropped as it arrives), then waits for the child to end; no time limit. Returns what it wrote and its wait status, or the
  // OS error of poll, read or waitpid. Call once.
  Result<ChildOutput> finish();

 private:
  ChildProcess(pid_t pid, UniqueFd out, UniqueFd err)
      : pid_(pid), out_(std::move(out)), err_(std::move(err)) {}
  // Kills and reaps a child that is still ours.
  void abandon();

  pid_t pid_ = -1;  // -1 once reaped
  UniqueFd out_;
  UniqueFd err_;
};

// start() then finish().
Result<ChildOutput> run_child(const std::vector<std::string>& argv);

}  // namespace diagpack
