// Blocks of one DEFLATE stream compressed side by side.
//
// The main thread cuts the stream into blocks: it copies the caller's bytes
// into a block buffer, and each full buffer goes on a queue that the worker
// threads take from. A worker compresses the block on its own (deflate_block
// explains how the pieces join into one stream) and computes the block's
// CRC-32. The main thread writes the compressed blocks strictly in stream
// order, folding each block's CRC into the stream's with crc32_combine. It
// writes whenever it passes by: after handing on a block it writes every
// block at the head of the line that is done, and when it needs a buffer
// while all are in use it waits for the oldest block, writes that and
// reuses its buffer. So the main thread goes on reading files while the
// workers compress, and it never waits except for a free buffer.
//
// Memory is fixed: 2 x workers + 2 buffers, each holding a 32 KiB window
// and one block of input and its compressed output (rarely larger than the
// input), plus one zlib state per worker. Nothing grows with the input.
//
// A buffer's first 32 KiB hold the window: the last 32 KiB of the stream
// before the block, which the main thread keeps as it hands blocks on. The
// worker primes its compressor with it, so matches reach across the cut.
//
// Errors: writes happen on the main thread, so a failed write is the error
// of the write() or finish() call that made it. The workers only compress;
// a compressor error, or a failed allocation, travels back with its block.
// Stopping (destruction) drops the queued blocks, lets each worker finish the
// block in hand (a few milliseconds at most) and joins them all; a worker never
// waits on anything but the queue, so stopping cannot hang.
#include "archive/parallel_deflate.hpp"

#include <errno.h>  // ENOMEM
#include <zlib.h>   // crc32, crc32_combine

#include <algorithm>  // clamp, min
#include <condition_variable>
#include <cstring>  // memcpy
#include <deque>
#include <mutex>
#include <new>  // std::bad_alloc
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "archive/deflate_block.hpp"
#include "sys/files.hpp"  // write_all

namespace diagpack {

namespace {

constexpr size_t kWindowSize = BlockDeflater::kWindowSize;
constexpr size_t kMaxBlockSize = size_t{1} << 30;

// One block on its way: filled by the main thread, compressed by a worker,
// written by the main thread, then reused.
struct Job {
  std::unique_ptr<unsigned char[]> in;  // the window, then the block's data
  size_t dict_len = 0;
  size_t data_len = 0;
  bool last = false;
  // Written by the worker; read by the main thread once |done|.
  std::vector<unsigned char> out;
  size_t out_len = 0;
  uint32_t crc = 0;
  std::optional<Error> error;
  bool out_of_memory = false;  // the output buffer could not grow
  bool done = false;           // guarded by State::mu
};

// An exception that left a worker would end the process (std::terminate),
// so the one a worker can meet, a failed allocation of the output buffer,
// is caught here and travels back with the block like any error, to be
// raised on the main thread as ENOMEM.
void compress_job(BlockDeflater& deflater, Job& job) {
  job.out_of_memory = false;
  try {
    const unsigned char* data = job.in.get() + job.dict_len;
    job.crc = static_cast<uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), data, static_cast<uInt>(job.data_len)));
    auto produced = deflater.compress({job.in.get(), job.dict_len},
                                      {data, job.data_len}, job.last, job.out);
    if (produced) {
      job.out_len = *produced;
      job.error.reset();
    } else {
      job.error = produced.take_error();
    }
  } catch (const std::bad_alloc&) {
    job.out_of_memory = true;
  }
}

}  // namespace

struct ParallelDeflater::State {
  int fd = -1;
  size_t block_size = 0;

  // Shared with the workers, guarded by |mu|.
  std::mutex mu;
  std::condition_variable work_cv;  // |todo| grew or |stopping| was set
  std::condition_variable done_cv;  // a job is done
  std::deque<Job*> todo;
  bool stopping = false;

  // The main thread's own.
  std::vector<std::unique_ptr<Job>> jobs;  // the fixed pool
  std::vector<Job*> free_jobs;
  std::deque<Job*> in_flight;  // handed on, not yet written, in stream order
  Job* filling = nullptr;
  std::unique_ptr<unsigned char[]> window;  // the stream's last bytes so far
  size_t window_len = 0;
  uLong crc = crc32(0L, Z_NULL, 0);

  // Set up before the first worker starts, never resized afterwards.
  std::vector<BlockDeflater> deflaters;
  std::vector<std::thread> workers;

  void run_worker(BlockDeflater& deflater) {
    std::unique_lock lock(mu);
    for (;;) {
      work_cv.wait(lock, [this] { return stopping || !todo.empty(); });
      if (stopping) return;
      Job* job = todo.front();
      todo.pop_front();
      lock.unlock();
      compress_job(deflater, *job);
      lock.lock();
      job->done = true;
      done_cv.notify_one();
    }
  }

  void stop() {
    {
      std::lock_guard lock(mu);
      stopping = true;
      todo.clear();
    }
    work_cv.notify_all();
    for (std::thread& worker : workers)
      if (worker.joinable()) worker.join();
  }

  // Writes the oldest block in flight, which must be done, and frees it.
  Status write_front() {
    Job* job = in_flight.front();
    in_flight.pop_front();
    free_jobs.push_back(job);
    if (job->out_of_memory) return Error::os(ENOMEM);
    if (job->error) return *job->error;
    crc = crc32_combine(crc, job->crc, static_cast<z_off_t>(job->data_len));
    return write_all(
        fd, std::string_view(reinterpret_cast<const char*>(job->out.data()),
                             job->out_len));
  }

  void wait_front() {
    Job* job = in_flight.front();
    std::unique_lock lock(mu);
    done_cv.wait(lock, [job] { return job->done; });
  }

  // Writes every block at the head of the line that is done.
  Status write_ready() {
    while (!in_flight.empty()) {
      {
        std::lock_guard lock(mu);
        if (!in_flight.front()->done) return {};
      }
      if (auto st = write_front(); !st) return st;
    }
    return {};
  }

  // Makes a free buffer the one being filled, its window in place; waits
  // for and writes the oldest block when every buffer is in use.
  Status start_block() {
    if (free_jobs.empty()) {
      wait_front();
      if (auto st = write_front(); !st) return st;
    }
    Job* job = free_jobs.back();
    free_jobs.pop_back();
    std::memcpy(job->in.get(), window.get(), window_len);
    job->dict_len = window_len;
    job->data_len = 0;
    job->last = false;
    filling = job;
    return {};
  }

  // Queues the block being filled for the workers.
  void hand_on(bool last) {
    Job* job = filling;
    filling = nullptr;
    job->last = last;
    // The window and the data are contiguous: the new window is their tail.
    const size_t total = job->dict_len + job->data_len;
    window_len = std::min(total, kWindowSize);
    std::memcpy(window.get(), job->in.get() + total - window_len, window_len);
    {
      std::lock_guard lock(mu);
      job->done = false;
      todo.push_back(job);
    }
    work_cv.notify_one();
    in_flight.push_back(job);
  }
};

Result<std::unique_ptr<ParallelDeflater>> ParallelDeflater::start(
    int fd, int level, unsigned threads, size_t block_size) {
  threads = std::max(threads, 1u);
  auto state = std::make_unique<State>();
  State& s = *state;
  s.fd = fd;
  s.block_size = std::clamp<size_t>(block_size, 1, kMaxBlockSize);
  s.window.reset(new unsigned char[kWindowSize]);
  for (unsigned i = 0; i < threads; ++i) {
    auto deflater = BlockDeflater::create(level);
    if (!deflater) return deflater.take_error();
    s.deflaters.push_back(std::move(*deflater));
  }
  for (unsigned i = 0; i < 2 * threads + 2; ++i) {
    auto job = std::make_unique<Job>();
    job->in.reset(new unsigned char[kWindowSize + s.block_size]);
    s.free_jobs.push_back(job.get());
    s.jobs.push_back(std::move(job));
  }
  s.workers.reserve(threads);
  for (unsigned i = 0; i < threads; ++i) {
    try {
      s.workers.emplace_back(&State::run_worker, &s, std::ref(s.deflaters[i]));
    } catch (const std::system_error& e) {
      // Work with the workers that did start; with none there is no engine.
      if (s.workers.empty()) return Error::os(e.code().value());
      break;
    }
  }
  return std::unique_ptr<ParallelDeflater>(
      new ParallelDeflater(std::move(state)));
}

ParallelDeflater::ParallelDeflater(std::unique_ptr<State> state)
    : state_(std::move(state)) {}

ParallelDeflater::~ParallelDeflater() { state_->stop(); }

Status ParallelDeflater::write(std::string_view bytes) {
  State& s = *state_;
  while (!bytes.empty()) {
    if (!s.filling)
      if (auto st = s.start_block(); !st) return st;
    Job& job = *s.filling;
    const size_t n = std::min(s.block_size - job.data_len, bytes.size());
    std::memcpy(job.in.get() + job.dict_len + job.data_len, bytes.data(), n);
    job.data_len += n;
    bytes.remove_prefix(n);
    if (job.data_len == s.block_size) {
      s.hand_on(false);
      if (auto st = s.write_ready(); !st) return st;
    }
  }
  return {};
}

Status ParallelDeflater::finish() {
  State& s = *state_;
  if (!s.filling)
    if (auto st = s.start_block(); !st) return st;
  s.hand_on(true);
  while (!s.in_flight.empty()) {
    s.wait_front();
    if (auto st = s.write_front(); !st) return st;
  }
  s.stop();
  return {};
}

uint32_t ParallelDeflater::crc() const {
  return static_cast<uint32_t>(state_->crc);
}

}  // namespace diagpack
