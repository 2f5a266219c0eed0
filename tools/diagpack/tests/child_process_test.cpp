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

#include <cstdlib>
#include <string>
#include <thread>

#include "test_support.hpp"

namespace diagpack {
namespace {

const Environment& test_env() {
  static const Environment env = Environment::of_process(0, nullptr, environ);
  return env;
}

ChildOutput run_sh(const std::string& script) {
  auto r = run_child({"sh", "-c", script}, test_env());
  EXPECT_TRUE(r.ok()) << r.error().text();
  return r.ok() ? *r : ChildOutput{};
}

TEST(ChildProcess, KeepsStdoutAndDropsStderr) {
  auto r = run_sh("printf 'to out'; printf 'to err' >&2; printf ' more'");
  EXPECT_EQ(r.out, "to out more");
  EXPECT_TRUE(exited_zero(r.wait_status));
}

TEST(ChildProcess, PassesArgumentsWithoutShell) {
  auto r = run_child({"printf", "%s|", "a b", "$HOME", ""}, test_env());
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->out, "a b|$HOME||");
}

TEST(ChildProcess, FloodOnEitherStreamCompletes) {
  auto r = run_sh(
      "head -c 3000000 /dev/zero >&2; head -c 2000000 /dev/zero; echo done "
      ">&2");
  EXPECT_EQ(r.out.size(), 2000000u);
  EXPECT_TRUE(exited_zero(r.wait_status));
}

TEST(ChildProcess, StdinIsReadOnlyAtEndOfFile) {
  auto r = run_sh(
      "cat; echo read=$?; (echo x >&0) 2>/dev/null || echo not-writable");
  EXPECT_EQ(r.out, "read=0\nnot-writable\n");
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
  ASSERT_EQ(::chdir(dir.path().c_str()), 0);
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
  EXPECT_EQ(r->out, "from the run\n");
}

TEST(ChildProcess, ReportsExitCodeAndSignal) {
  auto r = run_sh("echo partial; exit 3");
  EXPECT_EQ(r.out, "partial\n");
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

// Where the C library's spawn cannot start a child: a sandbox whose seccomp
// profile answers clone3 with EPERM (an older one refuses close_range too),
// and a kernel without close_range (before 5.9) in a chroot without /proc.
// Stated for each, and for an ordinary host: what a started child sees (run
// as the run does, with SIGTERM blocked, SIGPIPE ignored and a stray
// inherited descriptor at the top of a soft limit of 64), and the error of
// a program whose interpreter is missing.
enum class Refusal {
  kNone,
  kClone3,
  kClone3AndCloseRange,
  kCloseRangeWithoutProc
};

class ChildStartTest : public ::testing::TestWithParam<Refusal> {};

// Lists the child's open descriptors below 64 (an external program for each
// test, as bash keeps copies of redirected descriptors for its builtins),
// whether its stdin is at end of file and, where /proc is mounted, whether
// it leads its process group, and what it blocks and whether it ignores
// SIGPIPE (as the programs it starts inherit them).
constexpr const char* kProbe = R"probe(echo to-err >&2
exec 2>/dev/null
for ((fd = 0; fd < 64; fd++)); do /bin/true <&$fd && printf '%d ' $fd; done
read -r line; echo "eof=$?"
if [ -r /proc/$$/stat ]; then
  set -- $(sed 's/.*) //' /proc/$$/stat)
  blk=$(sed -n 's/^SigBlk:\s*//p' /proc/self/status)
  ign=$(sed -n 's/^SigIgn:\s*//p' /proc/self/status)
  echo "leader=$(($3 == $$)) blocked=$((0x$blk)) pipe-ignored=$(((0x$ign >> 12) & 1))"
fi
exit 7)probe";

// What the probe and a start of |no_interpreter| report from a forked child
// of the test with |refusal| arranged, or "skip: <why>".
std::string start_where(Refusal refusal, const std::string& no_interpreter) {
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid != 0) {
    ::close(report[1]);
    UniqueFd from_child(report[0]);
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(from_child.get(), buf, sizeof buf)) > 0)
      text.append(buf, static_cast<size_t>(n));
    int status = -1;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || status != 0)
      text += "\nchild failed";
    return text;
  }
  // Only the report (on 3) and the stray descriptor are left above 2,
  // whatever the test inherited.
  if (::dup3(report[1], 3, O_CLOEXEC) != 3) ::_exit(1);
  const auto say = [](const std::string& text) {
    [[maybe_unused]] const ssize_t n = ::write(3, text.data(), text.size());
    ::_exit(0);
  };
  if (::close_range(4, ~0U, 0) != 0) say("skip: no close_range to tidy up");
  rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) say("getrlimit failed");
  limit.rlim_cur = 64;
  if (::setrlimit(RLIMIT_NOFILE, &limit) != 0 ||
      ::dup2(0, 63) != 63)  // inherited: not close-on-exec
    say("cannot plant a descriptor at 63");
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  ::sigprocmask(SIG_BLOCK, &term, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  if (refusal == Refusal::kCloseRangeWithoutProc &&
      (::unshare(CLONE_NEWNS) != 0 ||
       ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
       ::mount("none", "/proc", "tmpfs", 0, nullptr) != 0))
    say("skip: no private mount namespace to hide /proc in (needs root)");
  if ((refusal == Refusal::kClone3 &&
       !test::refuse_system_calls({SYS_clone3}, EPERM)) ||
      (refusal == Refusal::kClone3AndCloseRange &&
       !test::refuse_system_calls({SYS_clone3, SYS_close_range}, EPERM)) ||
      (refusal == Refusal::kCloseRangeWithoutProc &&
       !test::refuse_system_calls({SYS_close_range}, ENOSYS)))
    say("skip: cannot install a seccomp filter");
  auto probe = run_child({"bash", "-c", kProbe}, test_env());
  const std::string text =
      probe ? probe->out + "exit " +
                  std::to_string(WEXITSTATUS(probe->wait_status))
            : probe.error().text();
  auto broken = run_child({no_interpreter}, test_env());
  say(text + "\n" + (broken ? "started" : broken.error().text()));
  return {};
}

TEST_P(ChildStartTest, ChildSeesTheSameWhereverItIsStarted) {
  test::TempDir dir;
  const std::string no_interpreter = dir.path("broken");
  test::write_file(no_interpreter, "#!/nonexistent/interpreter\n", 0755);
  const std::string got = start_where(GetParam(), no_interpreter);
  if (got.rfind("skip: ", 0) == 0) GTEST_SKIP() << got.substr(6);
  const bool has_proc = GetParam() != Refusal::kCloseRangeWithoutProc;
  EXPECT_EQ(got, std::string("0 1 2 eof=1\n") +
                     (has_proc ? "leader=1 blocked=0 pipe-ignored=0\n" : "") +
                     "exit 7\nNo such file or directory (os error 2)");
}

std::string host_name(const ::testing::TestParamInfo<Refusal>& info) {
  constexpr const char* kNames[] = {"Ordinary", "Clone3Refused",
                                    "Clone3AndCloseRangeRefused",
                                    "NoCloseRangeNoProc"};
  return kNames[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Hosts, ChildStartTest,
                         ::testing::Values(Refusal::kNone, Refusal::kClone3,
                                           Refusal::kClone3AndCloseRange,
                                           Refusal::kCloseRangeWithoutProc),
                         host_name);

}  // namespace
}  // namespace diagpack
