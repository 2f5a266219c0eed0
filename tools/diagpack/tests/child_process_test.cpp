#include "sys/child_process.hpp"

#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
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

}  // namespace
}  // namespace diagpack
