#include "sys/child_process.hpp"

#include <errno.h>
#include <fcntl.h>  // O_CLOEXEC
#include <gtest/gtest.h>
#include <sched.h>  // unshare
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>  // setrlimit
#include <sys/syscall.h>   // SYS_clone3, SYS_close_range
#include <sys/wait.h>
#include <unistd.h>  // usleep, environ, chdir

#include <algorithm>  // std::max
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "test_support.hpp"

namespace diagpack {
namespace {

const Environment& test_env() {
  static const Environment env = Environment::of_process(0, nullptr, environ);
  return env;
}

std::string text(const ChunkedBytes& bytes) {
  std::string out;
  for (std::string_view piece : bytes.pieces()) out += piece;
  return out;
}

ChildOutput run_sh(const std::string& script) {
  auto r = run_child({"sh", "-c", script}, test_env());
  EXPECT_TRUE(r.ok()) << r.error().text();
  return r.ok() ? std::move(*r) : ChildOutput{};
}

TEST(ChildProcess, KeepsStdoutAndDropsStderr) {
  auto r = run_sh("printf 'to out'; printf 'to err' >&2; printf ' more'");
  EXPECT_EQ(text(r.out), "to out more");
  EXPECT_TRUE(exited_zero(r.wait_status));
}

TEST(ChildProcess, PassesArgumentsWithoutShell) {
  auto r = run_child({"printf", "%s|", "a b", "$HOME", ""}, test_env());
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(text(r->out), "a b|$HOME||");
}

TEST(ChildProcess, FloodOnEitherStreamCompletes) {
  auto r = run_sh(
      "head -c 3000000 /dev/zero >&2; head -c 2000000 /dev/zero; echo done "
      ">&2");
  EXPECT_EQ(text(r.out), std::string(2000000, '\0'));  // two chunks joined
  EXPECT_TRUE(exited_zero(r.wait_status));
}

TEST(ChildProcess, StdinIsReadOnlyAtEndOfFile) {
  auto r = run_sh(
      "cat; echo read=$?; (echo x >&0) 2>/dev/null || echo not-writable");
  EXPECT_EQ(text(r.out), "read=0\nnot-writable\n");
}

TEST(ChildProcess, MissingProgramIsOsError) {
  auto r = run_child({"diagpack-no-such-program"}, test_env());
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().text(), "No such file or directory (os error 2)");
  EXPECT_EQ(r.error().os_code(), ENOENT);
}

// A program planted in the working directory is never found through an
// empty PATH or an empty element of it; the child sees the run's
// environment, not the process's.
TEST(ChildProcess, SearchesOnlyTheRunsPath) {
  test::TempDir dir;
  test::write_file(dir.path("tool"), "#!/bin/sh\necho \"$MARK\"\n", 0755);
  test::write_file(dir.path("plain"), "", 0644);
  // In the directory for the test's length, and back after it, so later
  // tests in the same process do not stand in a removed directory.
  const std::filesystem::path before = std::filesystem::current_path();
  ASSERT_EQ(::chdir(dir.path().c_str()), 0);
  struct Back {
    std::filesystem::path to;
    ~Back() { std::filesystem::current_path(to); }
  } back{before};
  for (const char* path : {"PATH=", "PATH=:", "PATH=::/nonexistent"}) {
    const Environment env{{}, {path}};
    EXPECT_EQ(find_program("tool", env).error().os_code(), ENOENT) << path;
  }
  // Nothing but empty elements: the default search path.
  EXPECT_EQ(*find_program("sh", Environment{{}, {"PATH=:"}}), "/bin/sh");
  EXPECT_EQ(*find_program("tool", Environment{{}, {"PATH=:" + dir.path()}}),
            dir.path("tool"));
  EXPECT_EQ(find_program("plain", Environment{{}, {"PATH=" + dir.path()}})
                .error()
                .os_code(),
            EACCES);
  auto r = run_child(
      {"tool"}, Environment{{}, {"PATH=" + dir.path(), "MARK=from the run"}});
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(text(r->out), "from the run\n");
}

TEST(ChildProcess, ReportsExitCodeAndSignal) {
  auto r = run_sh("echo partial; exit 3");
  EXPECT_EQ(text(r.out), "partial\n");
  ASSERT_TRUE(WIFEXITED(r.wait_status));
  EXPECT_EQ(WEXITSTATUS(r.wait_status), 3);
  EXPECT_FALSE(exited_zero(r.wait_status));

  r = run_sh("kill -TERM $$");
  ASSERT_TRUE(WIFSIGNALED(r.wait_status));
  EXPECT_EQ(WTERMSIG(r.wait_status), SIGTERM);
  EXPECT_FALSE(exited_zero(r.wait_status));
}

TEST(ChildProcess, UnfinishedChildIsKilledAndReaped) {
  test::TempDir dir;
  const std::string pid_file = dir.path("pid");
  {
    auto child = ChildProcess::start(
        {"sh", "-c",
         "echo $$ > " + pid_file + ".new && mv " + pid_file + ".new " +
             pid_file + " && exec sleep 100"},
        test_env());
    ASSERT_TRUE(child.ok());
    ChildProcess moved = std::move(*child);
    while (!test::exists(pid_file)) ::usleep(1000);
  }
  const pid_t pid = std::atoi(test::read_file(pid_file).c_str());
  ASSERT_GT(pid, 0);
  // A zombie still answers kill(pid, 0); a reaped child does not.
  EXPECT_EQ(::kill(pid, 0), -1);
  EXPECT_EQ(errno, ESRCH);
}

// The child closes its pipes and waits for a grandchild: a wake descriptor
// that turns readable later still ends that wait, and stops the group.
TEST(ChildProcess, WakeDescriptorStopsTheChildAndItsGroup) {
  int wake[2];
  ASSERT_EQ(::pipe(wake), 0);
  auto child = ChildProcess::start(
      {"sh", "-c", "exec >&- 2>&-; sleep 30 & wait"}, test_env());
  ASSERT_TRUE(child.ok());
  std::thread waker([&] {
    ::usleep(200000);
    EXPECT_EQ(::write(wake[1], "!", 1), 1);
  });
  auto r = child->finish(wake[0]);
  waker.join();
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind(), ErrorKind::Interrupted);
  ::close(wake[0]);
  ::close(wake[1]);
}

// With ticks, the wait wakes while the child says nothing, both while it
// holds its pipes and after it closed them; an error from the ticks stops
// the child and is the result.
TEST(ChildProcess, TicksWhileWaitingAndStopsOnTheirError) {
  struct Ticks : PieceObserver {
    int count = 0, fail_at = 0;
    Status piece_done(uint64_t) override {
      if (++count == fail_at) return Error::fixed(ErrorKind::Other, "enough");
      return {};
    }
  } ticks, stopper;
  auto r = run_child({"sh", "-c", "sleep 0.6; exec >&- 2>&-; sleep 0.6"},
                     test_env(), -1, &ticks);
  ASSERT_TRUE(r.ok()) << r.error().text();
  EXPECT_GE(ticks.count, 4);
  stopper.fail_at = 2;
  r = run_child({"sleep", "30"}, test_env(), -1, &stopper);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().text(), "enough");
}

// Where the C library's spawn is refused (a seccomp profile answering
// clone3 with EPERM, an older one refusing close_range too; no close_range
// and no /proc, as in a chroot on a kernel before 5.9), a child sees what it
// sees elsewhere: only 0, 1 and 2 open below the soft limit of 64 (a stray
// descriptor inherited at 63), stdin at end of file (the run's own is a pipe
// that stays open) and, with /proc, its own process group, nothing blocked
// and SIGPIPE at its default (the run blocks and ignores them); a script
// whose interpreter is missing gives ENOENT.
TEST(ChildProcess, StartsTheSameWhereSpawnIsRefused) {
  test::TempDir dir;
  const std::string broken = dir.path("broken");
  test::write_file(broken, "#!/nonexistent/interpreter\n", 0755);
  // An external program tries each descriptor: bash keeps copies of those
  // it redirects for its builtins.
  const std::string probe = R"sh(exec 2>/dev/null
for ((fd = 0; fd < 64; fd++)); do /bin/true <&$fd && printf '%d ' $fd; done
read -t 2 -r line; echo "eof=$?"
if [ -r /proc/$$/stat ]; then
  set -- $(sed 's/.*) //' /proc/$$/stat)
  blk=$(sed -n 's/^SigBlk:\s*//p' /proc/self/status)
  ign=$(sed -n 's/^SigIgn:\s*//p' /proc/self/status)
  echo "leader=$(($3 == $$)) blocked=$((0x$blk)) pipe=$(((0x$ign >> 12) & 1))"
fi
exit 7)sh";
  struct Host {
    const char* name;
    std::vector<long> refused;
    int err;
    bool hide_proc;
  };
  std::string skipped;
  for (const Host& host :
       {Host{"ordinary", {}, 0, false},
        Host{"clone3 refused", {SYS_clone3}, EPERM, false},
        Host{"clone3, close_range refused",
             {SYS_clone3, SYS_close_range},
             EPERM,
             false},
        Host{"no close_range, no /proc", {SYS_close_range}, ENOSYS, true}}) {
    SCOPED_TRACE(host.name);
    int report[2];
    ASSERT_EQ(::pipe2(report, O_CLOEXEC), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {  // only the report (on 3) and the stray stay above 2
      const auto say = [](const std::string& text) {
        [[maybe_unused]] const ssize_t n = ::write(3, text.data(), text.size());
        ::_exit(0);
      };
      const rlimit limit{64, 64};
      sigset_t term;
      sigemptyset(&term);
      sigaddset(&term, SIGTERM);
      int in[2];
      if (::dup3(report[1], 3, O_CLOEXEC) != 3 ||
          ::close_range(4, ~0U, 0) != 0 || ::pipe2(in, O_CLOEXEC) != 0 ||
          ::dup2(in[0], 0) != 0 || ::dup2(0, 63) != 63 ||
          ::setrlimit(RLIMIT_NOFILE, &limit) != 0 ||
          ::sigprocmask(SIG_BLOCK, &term, nullptr) != 0 ||
          ::signal(SIGPIPE, SIG_IGN) == SIG_ERR)
        ::_exit(1);
      if (host.hide_proc &&
          (::unshare(CLONE_NEWNS) != 0 ||
           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
           ::mount("none", "/proc", "tmpfs", 0, nullptr) != 0))
        say("skip: no mount namespace to hide /proc in (needs root)");
      if (!host.refused.empty() &&
          !test::refuse_system_calls(host.refused, host.err))
        say("skip: cannot install a seccomp filter");
      auto r = run_child({"bash", "-c", probe}, test_env());
      auto b = run_child({broken}, test_env());
      say((r ? text(r->out) + "exit " +
                   std::to_string(WEXITSTATUS(r->wait_status))
             : r.error().text()) +
          "\n" + (b ? "started" : b.error().text()));
    }
    ::close(report[1]);
    UniqueFd from_child(report[0]);
    std::string got(4096, '\0');  // one write, of less than a pipe's buffer
    got.resize(
        std::max<ssize_t>(0, ::read(from_child.get(), got.data(), 4096)));
    int status = -1;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_EQ(status, 0) << got;
    if (got.rfind("skip: ", 0) == 0) {
      skipped += std::string(host.name) + ": " + got.substr(6) + "; ";
      continue;
    }
    EXPECT_EQ(got, std::string("0 1 2 eof=1\n") +
                       (host.hide_proc ? "" : "leader=1 blocked=0 pipe=0\n") +
                       "exit 7\nNo such file or directory (os error 2)");
  }
  if (!skipped.empty()) GTEST_SKIP() << skipped;
}

}  // namespace
}  // namespace diagpack
