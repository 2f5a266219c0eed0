#include "sys/child_process.hpp"

#include <errno.h>
#include <fcntl.h>     // O_RDONLY
#include <poll.h>      // poll
#include <signal.h>    // kill
#include <sys/stat.h>  // S_ISREG
#include <sys/wait.h>  // waitpid, WIFEXITED
#include <time.h>      // nanosleep
#include <unistd.h>    // faccessat

#include <optional>
#include <span>
#include <utility>  // std::exchange

#include "sys/files.hpp"  // open_fd, read_some, status_following_links
#include "sys/spawn.hpp"  // spawn_program, make_pipe

namespace diagpack {

namespace {

// waitpid(pid) retried on EINTR. Returns the wait status or the error.
Result<int> wait_for(pid_t pid) {
  for (;;) {
    int status = 0;
    if (::waitpid(pid, &status, 0) == pid) return status;
    if (errno != EINTR) return Error::os(errno);
  }
}

// waitpid(pid) that also watches |wake_fd| (if not -1) and ticks |ticks|
// (if given): the child's pipes may reach end of file long before it ends
// (it closed them, or left them to a child of its own), and that wait must
// wake up too. With either, it checks for the child's end in steps of 20
// ms, polling the descriptor and ticking in between. Returns the wait
// status; nothing (the child not reaped) once |wake_fd| is readable, or
// once |ticks| returns an error, which is then left in |cut_short|; or the
// error of waitpid.
Result<std::optional<int>> wait_unless_woken(pid_t pid, int wake_fd,
                                             PieceObserver* ticks,
                                             Error& cut_short) {
  constexpr int kStepMs = 20;
  const bool stepped = wake_fd >= 0 || ticks != nullptr;
  for (;;) {
    int status = 0;
    const pid_t got = ::waitpid(pid, &status, stepped ? WNOHANG : 0);
    if (got == pid) return std::optional<int>(status);
    if (got < 0) {
      if (errno == EINTR) continue;
      return Error::os(errno);
    }
    if (ticks != nullptr) {
      if (auto st = ticks->piece_done(0); !st) {
        cut_short = st.take_error();
        return std::optional<int>();
      }
    }
    pollfd wake{wake_fd, POLLIN, 0};
    if (::poll(&wake, 1, kStepMs) > 0) return std::optional<int>();
  }
}

// Waits up to |ms| milliseconds for |pid| to end, without reaping it, so
// that its pid (and its process group's id) stays reserved until then.
// Returns whether it has ended.
bool ended_within(pid_t pid, int ms) {
  constexpr int kStepMs = 10;
  for (int waited = 0;; waited += kStepMs) {
    siginfo_t info = {};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info,
                 WEXITED | WNOHANG | WNOWAIT) != 0) {
      if (errno == EINTR) continue;
      return true;  // nothing left to wait for
    }
    if (info.si_pid == pid) return true;
    if (waited >= ms) return false;
    const timespec step{0, kStepMs * 1000000L};
    ::nanosleep(&step, nullptr);
  }
}

// Sends |signo| to the child's process group, and to the child itself in
// case it has left the group. Only while the child is not yet reaped, so
// that neither id can have passed to another process.
void signal_child(pid_t pid, int signo) {
  ::kill(-pid, signo);
  ::kill(pid, signo);
}

}  // namespace

bool exited_zero(int wait_status) {
  return WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0;
}

Result<std::string> find_program(std::string_view name,
                                 const Environment& env) {
  if (name.find('/') != std::string_view::npos) return std::string(name);
  std::string_view path = env.get("PATH").value_or("");
  if (path.find_first_not_of(':') == std::string_view::npos)
    path = kDefaultSearchPath;
  bool found_unusable = false;
  while (!path.empty()) {
    const size_t colon = path.find(':');
    const std::string_view dir = path.substr(0, colon);
    path.remove_prefix(colon == std::string_view::npos ? path.size()
                                                       : colon + 1);
    if (dir.empty()) continue;
    std::string candidate(dir);
    if (candidate.back() != '/') candidate += '/';
    candidate += name;
    auto st = status_following_links(candidate);
    if (!st) continue;  // absent here, or a dir element that is no directory
    if (S_ISREG(st->st_mode) &&
        ::faccessat(AT_FDCWD, candidate.c_str(), X_OK, AT_EACCESS) == 0)
      return candidate;
    found_unusable = true;
  }
  return Error::os(found_unusable ? EACCES : ENOENT);
}

Result<ChildProcess> ChildProcess::start(const std::vector<std::string>& argv,
                                         const Environment& env) {
  auto program = find_program(argv.at(0), env);
  if (!program) return program.take_error();
  auto dev_null = open_fd("/dev/null", O_RDONLY);
  if (!dev_null) return dev_null.take_error();
  if (auto st = lift_above_stdio(*dev_null); !st) return st.take_error();
  auto out = make_pipe();
  if (!out) return out.take_error();
  auto err = make_pipe();
  if (!err) return err.take_error();

  std::vector<char*> args;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> vars;
  for (const std::string& v : env.vars)
    vars.push_back(const_cast<char*>(v.c_str()));
  vars.push_back(nullptr);
  auto pid =
      spawn_program(program->c_str(), args.data(), vars.data(),
                    {dev_null->get(), out->write.get(), err->write.get()});
  if (!pid) return pid.take_error();
  // Our copies of the write ends close on return: each pipe then reaches end
  // of file when the child (and whatever it started) closes its end.
  return ChildProcess(*pid, std::move(out->read), std::move(err->read));
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      out_(std::move(other.out_)),
      err_(std::move(other.err_)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    abandon();
    pid_ = std::exchange(other.pid_, -1);
    out_ = std::move(other.out_);
    err_ = std::move(other.err_);
  }
  return *this;
}

ChildProcess::~ChildProcess() { abandon(); }

void ChildProcess::abandon() {
  out_.reset();
  err_.reset();
  if (pid_ <= 0) return;
  signal_child(pid_, SIGKILL);
  (void)wait_for(pid_);  // nothing more can be done if this fails
  pid_ = -1;
}

void ChildProcess::stop() {
  out_.reset();
  err_.reset();
  if (pid_ <= 0) return;
  signal_child(pid_, SIGTERM);
  (void)ended_within(pid_, kStopGraceMs);
  abandon();  // SIGKILL for whatever is left of the group, and the reaping
}

Result<ChildOutput> ChildProcess::finish(int wake_fd, PieceObserver* ticks) {
  ChildOutput result;
  UniqueFd* fds[2] = {&out_, &err_};
  char dropped[65536];  // what standard error says
  while (out_.valid() || err_.valid()) {
    pollfd polled[3];
    int which[3];
    nfds_t count = 0;
    for (int i = 0; i < 2; ++i) {
      if (!fds[i]->valid()) continue;
      polled[count] = pollfd{fds[i]->get(), POLLIN, 0};
      which[count++] = i;
    }
    if (wake_fd >= 0) polled[count++] = pollfd{wake_fd, POLLIN, 0};
    if (::poll(polled, count, ticks != nullptr ? kTickMs : -1) < 0) {
      if (errno == EINTR) continue;
      return Error::os(errno);
    }
    if (wake_fd >= 0 && polled[count - 1].revents != 0) {
      stop();
      return Error::interrupted();
    }
    if (ticks != nullptr) {
      if (auto st = ticks->piece_done(0); !st) {
        stop();
        return st.take_error();
      }
    }
    for (nfds_t k = 0; k < count; ++k) {
      if (polled[k].revents == 0 || polled[k].fd == wake_fd) continue;
      const int i = which[k];
      const std::span<char> into =
          i == 0 ? result.out.room() : std::span<char>(dropped);
      auto n = read_some(fds[i]->get(), into.data(), into.size());
      if (!n) return n.take_error();
      if (*n == 0)
        fds[i]->reset();  // end of file on this stream
      else if (i == 0)
        result.out.commit(*n);
    }
  }
  Error cut_short = Error::interrupted();
  auto status = wait_unless_woken(pid_, wake_fd, ticks, cut_short);
  if (status && !*status) {
    stop();
    return cut_short;
  }
  // Whatever waitpid answered, the pid is no longer ours to kill or wait for.
  pid_ = -1;
  if (!status) return status.take_error();
  result.wait_status = **status;
  return result;
}

Result<ChildOutput> run_child(const std::vector<std::string>& argv,
                              const Environment& env, int wake_fd,
                              PieceObserver* ticks) {
  auto child = ChildProcess::start(argv, env);
  if (!child) return child.take_error();
  return child->finish(wake_fd, ticks);
}

}  // namespace diagpack
