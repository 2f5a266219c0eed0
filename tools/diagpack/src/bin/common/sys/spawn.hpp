// Starting a program as a child process with the descriptors it is to have,
// and nothing else of this process's: posix_spawn, or fork and exec where a
// sandbox or an old kernel refuses the C library's spawn.
#pragma once

#include <sys/types.h>  // pid_t

#include "base/result.hpp"
#include "sys/unique_fd.hpp"

namespace diagpack {

// Moves |fd| to a number above 2, so that putting a child's descriptors on
// 0, 1 and 2 in turn can never overwrite one still to be moved (a parent
// started with a standard descriptor closed hands those numbers out). The
// copy is close-on-exec. Returns the fcntl error.
Status lift_above_stdio(UniqueFd& fd);

struct Pipe {
  UniqueFd read;
  UniqueFd write;
};

// A pipe with close-on-exec on both ends, both above 2. Returns the error of
// pipe2 or of the lift.
Result<Pipe> make_pipe();

// Starts the program file |path| with |argv| and |envp| (null-terminated)
// as the leader of a new process group, with stdio[0], stdio[1] and
// stdio[2] (all above 2) on its descriptors 0, 1 and 2 and every other
// descriptor closed, an empty signal mask and the signals this process
// ignores for itself (SIGPIPE, SIGXFSZ) back at their default. Returns its
// pid, for the caller to reap, or the OS error of the start: the exec's
// (ENOENT, EACCES, ...) for a program that cannot run, that child then
// reaped.
Result<pid_t> spawn_program(const char* path, char* const argv[],
                            char* const envp[], const int (&stdio)[3]);

}  // namespace diagpack
