// The gzip encoder.
//
// A gzip member is a fixed frame around one raw DEFLATE stream: a 10-byte
// header, the compressed data, and an 8-byte trailer holding the CRC-32 and
// the length (mod 2^32) of the uncompressed data. zlib supplies only the
// compressor (windowBits -15, i.e. no zlib or gzip wrapper of its own) and
// the CRC functions; the frame is ours, so its bytes are fixed whatever zlib
// version does the compression: the header is always
// 1F 8B 08 00 00000000 00 FF (deflate, no flags, no time, unknown OS).
//
// Compression is nearly all of an archive's cost, so it runs on every CPU
// the process may use. DEFLATE looks back at most 32 KiB, which makes the
// stream easy to cut: the input is split into blocks, and each block is
// compressed on its own by a worker thread whose compressor is first told
// the 32 KiB that precede the block, so it finds the matches that one long
// stream would (only a match that would run across a cut is split there).
// Each piece ends on a byte boundary with the stream left open (a sync
// flush), and the last one closes it, so the pieces written one after
// another in input order are a single DEFLATE stream that any inflater
// reads. Each worker also computes its block's CRC-32; the CRC of two
// pieces joined follows from their two CRCs and the second piece's length
// (crc32_combine), so the trailer's check value costs the main thread
// nothing. This is the well-known parallel gzip design; its output differs
// from a one-thread encoder's only by the few bytes per block that the
// flush markers add and by match choices near the cuts, well under 0.1%.
//
// Block size: priming a block hashes those 32 KiB once more, so larger
// blocks cost less CPU and compress a little better, while memory grows
// with them. On two CPUs 256 KiB measured a few per cent faster than
// 128 KiB and as fast as 512 KiB within the noise; the buffers of eight
// threads then stay near 10 MiB.
//
// parallel_deflate.hpp holds the threads, the block buffers and the
// ordering; deflate_block.hpp compresses one block, and stores the parts
// that would not shrink. With one usable CPU a worker would only compete
// with the thread feeding it, so the same blocks are then compressed on
// the calling thread (serial_deflate.hpp). The same happens when no worker
// can be started at all (a seccomp profile or an old kernel refusing new
// threads, a thread limit reached): the archive is written all the same,
// and its bytes do not depend on which engine ran or on the thread count.
// Both engines write only compressed data; the header, the trailer, the
// byte count and the sticky error live here.
//
// Errors: the first failure (a write to the file, or zlib refusing) is kept
// and returned again by every later call. A half-written member cannot be
// repaired, so nothing more is written after it: the caller learns of the
// failure rather than getting a stream that is silently corrupt further on.
// The engine is destroyed at the failure, and at the end of finish_stream,
// which joins every thread it started.
#include "archive/gz_encoder.hpp"

#include <algorithm>  // min
#include <cstdint>
#include <optional>
#include <string>

#include "archive/deflate_engine.hpp"
#include "archive/parallel_deflate.hpp"
#include "archive/serial_deflate.hpp"
#include "sys/files.hpp"  // write_all
#include "sys/host.hpp"   // usable_cpu_count

namespace diagpack {

namespace {

constexpr char kGzipHeader[10] = {'\x1f', '\x8b', 8, 0, 0, 0, 0, 0, 0, '\xff'};
constexpr std::string_view kWriteAfterFinishText =
    "write after the gzip stream was finished";

// The engine for |threads| compressing threads: a parallel one for two or
// more, falling back to the calling thread when no worker can start.
Result<std::unique_ptr<DeflateEngine>> make_engine(int fd, int level,
                                                   unsigned threads,
                                                   size_t block_size) {
  if (threads >= 2) {
    auto parallel = ParallelDeflater::start(fd, level, threads, block_size);
    if (parallel) return std::unique_ptr<DeflateEngine>(std::move(*parallel));
  }
  auto serial = SerialDeflater::create(fd, level, block_size);
  if (!serial) return serial.take_error();
  return std::unique_ptr<DeflateEngine>(std::move(*serial));
}

}  // namespace

struct GzEncoder::State {
  UniqueFd file;
  std::unique_ptr<DeflateEngine> engine;
  bool header_written = false;
  bool finished = false;
  std::optional<Error> failure;  // sticky: the first error of any call
  uint64_t length = 0;

  Status fail(Error error) {
    failure = error;
    engine.reset();  // joins any worker
    return error;
  }

  Status ensure_header() {
    if (header_written) return {};
    header_written = true;
    if (auto st = write_all(file.get(),
                            std::string_view(kGzipHeader, sizeof kGzipHeader));
        !st)
      return fail(st.take_error());
    return {};
  }
};

GzEncoder::GzEncoder(UniqueFd file, int level)
    : GzEncoder(std::move(file), level,
                std::min(usable_cpu_count(), kMaxThreads)) {}

GzEncoder::GzEncoder(UniqueFd file, int level, unsigned threads,
                     size_t block_size)
    : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.file = std::move(file);
  auto engine = make_engine(s.file.get(), level, threads, block_size);
  if (engine)
    s.engine = std::move(*engine);
  else
    s.failure = engine.take_error();
}

GzEncoder::~GzEncoder() {
  (void)finish_stream();
  // The UniqueFd closes the file if close_file() was not called.
}

Status GzEncoder::write(std::string_view bytes) {
  State& s = *state_;
  if (s.failure) return *s.failure;
  if (s.finished)
    return s.fail(
        Error::fixed(ErrorKind::Other, std::string(kWriteAfterFinishText)));
  if (auto st = s.ensure_header(); !st) return st;
  if (auto st = s.engine->write(bytes); !st) return s.fail(st.take_error());
  s.length += bytes.size();
  return {};
}

Status GzEncoder::finish_stream() {
  State& s = *state_;
  if (s.failure) return *s.failure;
  if (s.finished) return {};
  if (auto st = s.ensure_header(); !st) return st;
  if (auto st = s.engine->finish(); !st) return s.fail(st.take_error());
  const uint32_t crc = s.engine->crc();
  s.engine.reset();
  unsigned char trailer[8];
  const uint32_t length = static_cast<uint32_t>(s.length);
  for (int i = 0; i < 4; ++i) {
    trailer[i] = static_cast<unsigned char>(crc >> (8 * i));
    trailer[4 + i] = static_cast<unsigned char>(length >> (8 * i));
  }
  if (auto st = write_all(
          s.file.get(), std::string_view(reinterpret_cast<char*>(trailer), 8));
      !st)
    return s.fail(st.take_error());
  s.finished = true;
  return {};
}

Status GzEncoder::close_file() { return state_->file.close_checked(); }

}  // namespace diagpack
