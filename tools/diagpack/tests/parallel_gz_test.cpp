// The parallel encoder: block boundaries, how writes are cut, thread
// counts, the one-CPU path, no thread at all, and failures in the middle of
// a stream. Each
// archive is read back by zlib and the frame checked; the larger ones also
// by gzip and Python.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "archive/gz_encoder.hpp"
#include "gz_test_support.hpp"
#include "sys/host.hpp"

namespace diagpack {
namespace {

using test::create_file;
using test::expect_member_of;
using test::read_file;

constexpr size_t kBlock = GzEncoder::kDefaultBlockSize;

// The number of threads of this process.
int thread_count() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
  return -1;
}

// Compresses |input| with |threads| threads and |block| byte blocks, in
// writes of |piece| bytes (0: one write). Returns the file's bytes.
std::string compress(const std::string& path, const std::string& input,
                     unsigned threads, size_t block = kBlock,
                     size_t piece = 0) {
  GzEncoder gz(create_file(path), 6, threads, block);
  std::string_view rest(input);
  if (piece == 0) piece = input.size() + 1;
  while (!rest.empty()) {
    const size_t n = std::min(piece, rest.size());
    EXPECT_TRUE(gz.write(rest.substr(0, n)));
    rest.remove_prefix(n);
  }
  EXPECT_TRUE(gz.finish_stream());
  EXPECT_TRUE(gz.close_file());
  return read_file(path);
}

class ParallelGzTest : public test::TempDirTest {
 protected:
  std::string path_ = path("out.gz");
};

TEST_F(ParallelGzTest, SizesAroundBlockBoundaries) {
  for (size_t size : {size_t{0}, size_t{1}, kBlock - 1, kBlock, kBlock + 1,
                      2 * kBlock, 3 * kBlock + 5}) {
    SCOPED_TRACE(size);
    const std::string input = test::sample_text(size);
    expect_member_of(compress(path_, input, 2), input);
  }
}

TEST_F(ParallelGzTest, IncompressibleDataStaysNearItsSize) {
  const std::string input = test::random_bytes(10 * kBlock + 333);
  const std::string gz = compress(path_, input, 2);
  expect_member_of(gz, input);
  EXPECT_LT(gz.size(), input.size() + input.size() / 100);
  EXPECT_TRUE(test::gunzip_with_gzip(path_) == input);
}

// What a log directory of rotations holds: text, a block of zeros, 16-bit
// audio, compressed rotations, text and noise alternating every 3 KiB; it
// ends in noise, so the final block is a stored one.
std::string mixed_input() {
  std::string s = test::sample_text(3 * kBlock + 4321) + std::string(kBlock, 0);
  const std::string noise = test::random_bytes(kBlock);
  for (size_t i = 0; i < kBlock / 2; ++i) {  // a noisy tone
    const auto v = static_cast<int16_t>(
        9000 * std::sin(0.05 * i) + 30 * static_cast<signed char>(noise[i]));
    s += static_cast<char>(v);
    s += static_cast<char>(v >> 8);
  }
  for (unsigned i = 0; i < 40; ++i)
    s += i % 2 ? test::random_bytes(3000, i) : test::sample_text(3000);
  return s + noise + test::random_bytes(2 * kBlock + 999, 7);
}

// The stream depends only on the input and the block size: not on how the
// input was cut into writes, nor on how many threads compressed it.
TEST_F(ParallelGzTest, SameBytesWhateverTheWritesAndThreads) {
  const std::string input = mixed_input();
  const std::string one_write = compress(path_, input, 2);
  expect_member_of(one_write, input);
  EXPECT_TRUE(test::gunzip_with_gzip(path_) == input);
  EXPECT_TRUE(test::gunzip_with_python(path_) == input);
  EXPECT_TRUE(compress(path_, input, 2, kBlock, 512) == one_write);
  EXPECT_TRUE(compress(path_, input, 2, kBlock, 8191) == one_write);
  EXPECT_TRUE(compress(path_, input, 8, kBlock, 1000) == one_write);
  EXPECT_TRUE(compress(path_, input, 5) == one_write);
  EXPECT_TRUE(compress(path_, input, 1, kBlock, 4096) == one_write);
}

// Blocks smaller than the 32 KiB window: each block's dictionary spans
// several earlier blocks, and a wrong one would show in the content.
TEST_F(ParallelGzTest, BlocksSmallerThanTheWindow) {
  std::string input = test::sample_text(100000);
  input += input.substr(1000, 30000);  // matches far back, across many cuts
  for (size_t block : {size_t{1}, size_t{7}, size_t{4096}, size_t{40000}}) {
    SCOPED_TRACE(block);
    const std::string gz = compress(
        path_, block == 1 ? input.substr(0, 5000) : input, 3, block, 777);
    expect_member_of(gz, block == 1 ? input.substr(0, 5000) : input);
  }
}

TEST_F(ParallelGzTest, WorkersRunWhileOpenAndAreJoinedByFinish) {
  const int before = thread_count();
  GzEncoder gz(create_file(path_), 6, 3);
  EXPECT_EQ(thread_count(), before + 3);
  ASSERT_TRUE(gz.write(test::sample_text(5 * kBlock)));
  ASSERT_TRUE(gz.finish_stream());
  EXPECT_EQ(thread_count(), before);
}

TEST_F(ParallelGzTest, OneUsableCpuMeansNoWorkerThread) {
  const std::string input = test::sample_text(3 * kBlock);
  int cpus = -1, before = -1, during = -1;
  std::thread pinned([&] {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    if (::sched_setaffinity(0, sizeof one, &one) != 0) return;
    cpus = static_cast<int>(usable_cpu_count());
    before = thread_count();
    GzEncoder gz(create_file(path_));
    during = thread_count();
    EXPECT_TRUE(gz.write(input));
    EXPECT_TRUE(gz.finish_stream());
  });
  pinned.join();
  EXPECT_EQ(cpus, 1);
  EXPECT_EQ(during, before);
  expect_member_of(read_file(path_), input);
}

// A host whose seccomp profile refuses new threads (clone and clone3 fail
// with EAGAIN in a child process): the encoder asked for two threads
// compresses on the calling thread and writes the same bytes.
TEST_F(ParallelGzTest, NoThreadCanStartSoTheCallingThreadCompresses) {
  const std::string input = mixed_input();
  const std::string expected = compress(path_, input, 2);
  const std::string refused = dir_.path("refused.gz");
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (!test::refuse_system_calls({SYS_clone, SYS_clone3}, EAGAIN)) ::_exit(2);
    try {
      std::thread([] {}).join();
      ::_exit(3);  // the filter did not take
    } catch (const std::system_error&) {
    }
    GzEncoder gz(create_file(refused), 6, 2);
    ::_exit(gz.write(input) && gz.finish_stream() && gz.close_file() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  if (status == 2 << 8) GTEST_SKIP() << "cannot install a seccomp filter";
  ASSERT_EQ(status, 0);
  EXPECT_TRUE(read_file(refused) == expected);
}

TEST_F(ParallelGzTest, AffinityMaskCountsCpus) {
  cpu_set_t set;
  ASSERT_EQ(::sched_getaffinity(0, sizeof set, &set), 0);
  EXPECT_EQ(usable_cpu_count(), static_cast<unsigned>(CPU_COUNT(&set)));
}

// SIGPIPE ignored for the test's duration, as the tool ignores it.
class IgnoreSigpipe {
 public:
  IgnoreSigpipe() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &old_);
  }
  ~IgnoreSigpipe() { ::sigaction(SIGPIPE, &old_, nullptr); }

 private:
  struct sigaction old_ {};
};

// The reader takes some of the stream, then goes away: a write in the
// middle fails with EPIPE, and that error is what every later call returns.
TEST_F(ParallelGzTest, WriteFailureInTheMiddleSurfacesAndJoinsTheWorkers) {
  IgnoreSigpipe guard;
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  UniqueFd read_end(fds[0]);
  size_t taken = 0;
  std::thread reader([&] {
    char buf[4096];
    while (taken < 200000) {
      ssize_t n = ::read(read_end.get(), buf, sizeof buf);
      if (n <= 0) break;
      taken += static_cast<size_t>(n);
    }
    read_end.reset();
  });
  const int before = thread_count();  // the reader included
  const std::string input = test::random_bytes(64 * kBlock);
  const std::string broken = "Broken pipe (os error 32)";
  {
    GzEncoder gz(UniqueFd(fds[1]), 6, 2);
    Status st;
    size_t written = 0;
    for (; written < input.size() && st; written += 8192)
      st = gz.write(std::string_view(input).substr(written, 8192));
    ASSERT_FALSE(st);
    EXPECT_EQ(st.error().text(), broken);
    EXPECT_GT(written, 200000u);
    EXPECT_LT(written, input.size());
    EXPECT_LE(thread_count(), before);  // the workers are gone already
    EXPECT_EQ(gz.write("more").error().text(), broken);
    EXPECT_EQ(gz.finish_stream().error().text(), broken);
  }
  reader.join();
  EXPECT_GE(taken, 200000u);
}

TEST_F(ParallelGzTest, FullDiskAtTheHeaderSurfacesAndJoinsTheWorkers) {
  const int before = thread_count();
  GzEncoder gz(UniqueFd(::open("/dev/full", O_WRONLY | O_CLOEXEC)), 6, 2);
  EXPECT_EQ(gz.write(test::sample_text(1000)).error().text(),
            "No space left on device (os error 28)");
  EXPECT_EQ(thread_count(), before);
  EXPECT_FALSE(gz.finish_stream());
}

// Less than a block written: the compressed data first reach the file in
// finish_stream, whose write then fails.
TEST_F(ParallelGzTest, WriteFailureInFinishSurfaces) {
  IgnoreSigpipe guard;
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  UniqueFd read_end(fds[0]);
  const int before = thread_count();
  GzEncoder gz(UniqueFd(fds[1]), 6, 2);
  ASSERT_TRUE(gz.write(test::sample_text(1000)));
  char header[10];
  ASSERT_EQ(::read(read_end.get(), header, sizeof header), 10);
  read_end.reset();
  EXPECT_EQ(gz.finish_stream().error().text(), "Broken pipe (os error 32)");
  EXPECT_EQ(thread_count(), before);
}

TEST_F(ParallelGzTest, DestroyedWithBlocksInFlightDoesNotHang) {
  const int before = thread_count();
  {
    GzEncoder gz(create_file(path_), 6, 4, 4096);
    ASSERT_TRUE(gz.write(test::random_bytes(40 * 4096)));
  }
  EXPECT_EQ(thread_count(), before);
  expect_member_of(read_file(path_), test::random_bytes(40 * 4096));
}

}  // namespace
}  // namespace diagpack
