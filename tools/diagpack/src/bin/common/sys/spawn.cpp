// Starting a child. posix_spawn does it in one call: the child shares this
// process's memory until its exec (nothing is copied), sets up its
// descriptors, signals and process group, and any failure of those steps or
// of the exec comes back as the call's result. Two kinds of host refuse the
// C library's way of doing it, where a plain fork works:
// - a sandbox whose seccomp profile answers clone3 with EPERM (the library
//   falls back to clone only on ENOSYS): the spawn fails with EPERM;
// - a kernel without close_range (before 5.9) and no /proc (a chroot): the
//   child cannot list what to close above 2, and the spawn fails with the
//   ENOENT of its open of /proc/self/fd.
// The result does not say which step failed, and a real exec can fail with
// either value (a script whose interpreter is missing gives ENOENT). So on
// these two values, and only on them, the child is started again with fork
// and exec, which does each step itself and sends the errno of a failed one
// through a close-on-exec pipe: end of file there means the exec succeeded.
// A refused spawn so becomes a started child, and a real exec failure is
// reported again, with its own errno; the program never ran in the failed
// attempt, so it never runs twice. Only these hosts pay for it: one failed
// spawn, then a fork (which copies the page tables), a pipe and a read.
//
// Between fork and exec the child makes only async-signal-safe calls, on
// data made before the fork, as another thread may have held a lock of the
// C library at the fork. It closes the descriptors above 2 with close_range;
// where that is refused too, it closes them one by one below a bound the
// parent found before the fork: past the highest descriptor listed in
// /proc/self/fd, or without /proc the soft limit on descriptors (a sandbox
// may set that to a billion, so the listing is worth having).
#include "sys/spawn.hpp"

#include <errno.h>
#include <fcntl.h>         // O_CLOEXEC, F_DUPFD_CLOEXEC
#include <signal.h>        // sigset_t, sigaction, kill
#include <spawn.h>         // posix_spawn and its attributes and file actions
#include <sys/resource.h>  // getrlimit
#include <sys/wait.h>      // waitpid
#include <unistd.h>        // pipe2, fork, dup2, close_range, execve

#include <charconv>      // std::from_chars
#include <climits>       // INT_MAX
#include <string>        // std::char_traits
#include <system_error>  // std::errc

#include "sys/directories.hpp"  // open_dir
#include "sys/files.hpp"        // read_some

namespace diagpack {

namespace {

// The signals this process ignores (or may) that its child gets back at
// their default action.
constexpr int kDefaultInChild[] = {SIGPIPE, SIGXFSZ};

// The file actions and attributes of one spawn, destroyed when it is done.
class SpawnSetup {
 public:
  SpawnSetup() {
    actions_ok_ = ::posix_spawn_file_actions_init(&actions_) == 0;
    attr_ok_ = ::posix_spawnattr_init(&attr_) == 0;
  }
  ~SpawnSetup() {
    if (actions_ok_) ::posix_spawn_file_actions_destroy(&actions_);
    if (attr_ok_) ::posix_spawnattr_destroy(&attr_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  // Puts |stdin_fd|, |stdout_fd| and |stderr_fd| on 0, 1 and 2 of the child
  // and closes every descriptor above them, with an empty signal mask (this
  // process blocks its stop signals), kDefaultInChild back at their default
  // and a process group of its own. Returns 0 or an errno value.
  int prepare(int stdin_fd, int stdout_fd, int stderr_fd) {
    if (!actions_ok_ || !attr_ok_) return ENOMEM;
    const int moves[3][2] = {{stdin_fd, 0}, {stdout_fd, 1}, {stderr_fd, 2}};
    for (const auto& m : moves)
      if (int rc = ::posix_spawn_file_actions_adddup2(&actions_, m[0], m[1]))
        return rc;
    // Our own descriptors are close-on-exec; this also keeps from the child
    // any descriptor that whoever started us left open.
    if (int rc = ::posix_spawn_file_actions_addclosefrom_np(&actions_, 3))
      return rc;
    sigset_t none, to_default;
    sigemptyset(&none);
    sigemptyset(&to_default);
    for (int signo : kDefaultInChild) sigaddset(&to_default, signo);
    if (int rc = ::posix_spawnattr_setsigmask(&attr_, &none)) return rc;
    if (int rc = ::posix_spawnattr_setsigdefault(&attr_, &to_default))
      return rc;
    if (int rc = ::posix_spawnattr_setpgroup(&attr_, 0)) return rc;
    return ::posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK |
                                                  POSIX_SPAWN_SETSIGDEF |
                                                  POSIX_SPAWN_SETPGROUP);
  }

  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attr() const { return &attr_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attr_;
  bool actions_ok_ = false;
  bool attr_ok_ = false;
};

// One past the highest descriptor a child of this process could inherit:
// past the highest listed in /proc/self/fd, or without /proc the soft limit
// on descriptors (none is ever opened at or above it, unless the limit was
// lowered afterwards). Descriptors that this process opens after the
// listing are close-on-exec. Returns the getrlimit error.
Result<int> descriptor_bound() {
  if (auto dir = open_dir("/proc/self/fd")) {
    int highest = 2;
    for (auto entry = dir->next(); entry; entry = dir->next()) {
      if (*entry == nullptr) return highest + 1;
      const char* name = (*entry)->d_name;
      const char* end = name + std::char_traits<char>::length(name);
      int fd = 0;
      if (std::from_chars(name, end, fd).ec == std::errc() && fd > highest)
        highest = fd;
    }
  }  // no /proc, or a listing that failed part way
  rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return Error::os(errno);
  return limit.rlim_cur < INT_MAX ? static_cast<int>(limit.rlim_cur) : INT_MAX;
}

// What the child of a fork needs to become the program, all made before
// the fork.
struct ExecPlan {
  const char* program;
  char* const* argv;
  char* const* envp;
  int onto_stdio[3];  // the descriptors for 0, 1 and 2, all above 2
  int report;         // the write end of the report pipe, above 2
  int close_below;    // descriptor_bound()
};

// In the child: sends errno on the report pipe and ends. A report that
// cannot be written (nothing can be done about it then) leaves end of file,
// and the parent sees a child that ended with status 127.
[[noreturn]] void report_failure(int report) {
  const int err = errno;
  [[maybe_unused]] const ssize_t n = ::write(report, &err, sizeof err);
  ::_exit(127);
}

// In the child, between fork and exec, with async-signal-safe calls only:
// the same setup as SpawnSetup::prepare, then the exec. Closes every
// descriptor above 2 but the report pipe, which closes on exec. Never
// returns.
[[noreturn]] void become_program(const ExecPlan& plan) {
  if (::setpgid(0, 0) != 0) report_failure(plan.report);
  for (int target = 0; target < 3; ++target)
    if (::dup2(plan.onto_stdio[target], target) != target)
      report_failure(plan.report);
  const unsigned keep = static_cast<unsigned>(plan.report);
  const bool closed = (keep == 3 || ::close_range(3, keep - 1, 0) == 0) &&
                      ::close_range(keep + 1, ~0U, 0) == 0;
  for (int fd = 3; !closed && fd < plan.close_below; ++fd)
    if (fd != plan.report) (void)::close(fd);  // EBADF: not open
  struct sigaction default_action = {};
  default_action.sa_handler = SIG_DFL;
  for (int signo : kDefaultInChild)
    if (::sigaction(signo, &default_action, nullptr) != 0)
      report_failure(plan.report);
  sigset_t none;
  sigemptyset(&none);
  if (::sigprocmask(SIG_SETMASK, &none, nullptr) != 0)
    report_failure(plan.report);
  ::execve(plan.program, plan.argv, plan.envp);
  report_failure(plan.report);
}

// Starts |plan| with fork and exec; the bound and the report are filled in
// here. Returns the child's pid, or the OS error of getrlimit, the report
// pipe, fork, the read of the report, or of the step that failed in the
// child (the exec's ENOENT, EACCES, ...), that child then reaped.
Result<pid_t> fork_and_exec(ExecPlan plan) {
  auto bound = descriptor_bound();
  if (!bound) return bound.take_error();
  plan.close_below = *bound;
  auto report = make_pipe();
  if (!report) return report.take_error();
  plan.report = report->write.get();
  const pid_t pid = ::fork();
  if (pid < 0) return Error::os(errno);
  if (pid == 0) become_program(plan);
  report->write.reset();
  int err = 0;
  auto n =
      read_some(report->read.get(), reinterpret_cast<char*>(&err), sizeof err);
  if (n && *n == 0) return pid;  // end of file: the exec closed the pipe
  if (!n) {  // the child's state is unknown: stop it and its group
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR)
    continue;  // it has ended, or been killed: reap it
  if (!n) return n.take_error();
  return Error::os(err);
}

}  // namespace

Status lift_above_stdio(UniqueFd& fd) {
  if (fd.get() > 2) return {};
  int moved = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, 3);
  if (moved < 0) return Error::os(errno);
  fd.reset(moved);
  return {};
}

Result<Pipe> make_pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return Error::os(errno);
  Pipe p{UniqueFd(fds[0]), UniqueFd(fds[1])};
  if (auto st = lift_above_stdio(p.read); !st) return st.take_error();
  if (auto st = lift_above_stdio(p.write); !st) return st.take_error();
  return p;
}

Result<pid_t> spawn_program(const char* path, char* const argv[],
                            char* const envp[], const int (&stdio)[3]) {
  SpawnSetup setup;
  if (int rc = setup.prepare(stdio[0], stdio[1], stdio[2]))
    return Error::os(rc);
  // posix_spawn reports a failed exec (ENOENT, EACCES, ...) as its result.
  pid_t pid = -1;
  const int rc =
      ::posix_spawn(&pid, path, setup.actions(), setup.attr(), argv, envp);
  if (rc == 0) return pid;
  if (rc != EPERM && rc != ENOENT) return Error::os(rc);
  // Perhaps refused (see the top): fork and exec tell.
  return fork_and_exec(
      {path, argv, envp, {stdio[0], stdio[1], stdio[2]}, -1, 0});
}

}  // namespace diagpack
