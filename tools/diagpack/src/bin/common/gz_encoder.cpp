// The gzip encoder.
//
// A gzip member is a fixed frame around one raw DEFLATE stream: a 10-byte
// header, the compressed data, and an 8-byte trailer holding the CRC-32 and
// the length (mod 2^32) of the uncompressed data. zlib supplies only the
// compressor (deflateInit2 with windowBits -15, i.e. no zlib or gzip wrapper
// of its own) and the CRC function; the frame is ours, so its bytes are fixed
// whatever zlib version does the compression: the header is always
// 1F 8B 08 00 00000000 00 FF (deflate, no flags, no time, unknown OS).
//
// Data flow: write() feeds the caller's bytes to deflate with Z_NO_FLUSH;
// compressed output lands in a 32 KiB buffer, and before each further deflate
// call whatever the buffer holds goes to the file with write_all. The CRC and
// byte count are updated with exactly the bytes deflate consumed. finish_stream()
// drives Z_FINISH until deflate reports the end of the stream, flushes the
// buffer and appends the trailer. Memory is the buffer plus zlib's fixed
// state at level 6 (memLevel 8): nothing grows with the input.
//
// Errors: the first failure (a write to the file, or zlib refusing) is kept
// and returned again by every later call. A half-written member cannot be
// repaired, so nothing more is written after it: the caller learns of the
// failure rather than getting a stream that is silently corrupt further on.
//
// The interface is deliberately narrow (write bytes, finish, close) so that
// the compression behind it can later be split across threads without the
// tar writer noticing.
#include "gz_encoder.hpp"

#include <zlib.h>  // deflate*, crc32

#include <algorithm>  // min
#include <array>
#include <climits>  // UINT_MAX
#include <cstdint>
#include <cstring>  // memset
#include <optional>
#include <string>

#include "fd_io.hpp"  // write_all

namespace diagpack {

namespace {

constexpr size_t kOutputBufferSize = 32 * 1024;
constexpr char kGzipHeader[10] = {'\x1f', '\x8b', 8, 0, 0, 0, 0, 0, 0, '\xff'};
constexpr std::string_view kCompressorSetupText = "failed to set up the DEFLATE compressor";
constexpr std::string_view kCompressorFailedText = "the DEFLATE compressor failed";
constexpr std::string_view kWriteAfterFinishText = "write after the gzip stream was finished";

}  // namespace

struct GzEncoder::State {
  UniqueFd file;
  z_stream zs;
  bool zs_ready = false;
  bool header_written = false;
  bool finished = false;
  std::optional<Error> failure;  // sticky: the first error of any call
  uLong crc = crc32(0L, Z_NULL, 0);
  uint64_t length = 0;
  std::array<unsigned char, kOutputBufferSize> out;
  size_t buffered = 0;  // compressed bytes in |out| not yet in the file

  Status fail(Error error) {
    failure = error;
    return error;
  }

  Status write_file(std::string_view bytes) {
    if (auto st = write_all(file.get(), bytes); !st) return fail(st.take_error());
    return {};
  }

  Status ensure_header() {
    if (header_written) return {};
    header_written = true;
    return write_file(std::string_view(kGzipHeader, sizeof kGzipHeader));
  }

  // Writes what the buffer holds and empties it.
  Status dump() {
    if (buffered == 0) return {};
    size_t n = buffered;
    buffered = 0;
    return write_file(std::string_view(reinterpret_cast<const char*>(out.data()), n));
  }

  // One deflate call into the (emptied) buffer. Returns zlib's code.
  int deflate_step(int flush) {
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    int rc = deflate(&zs, flush);
    buffered = out.size() - zs.avail_out;
    return rc;
  }
};

GzEncoder::GzEncoder(UniqueFd file, int level) : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.file = std::move(file);
  std::memset(&s.zs, 0, sizeof s.zs);
  if (deflateInit2(&s.zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK)
    s.zs_ready = true;
  else
    s.failure = Error::fixed(ErrorKind::Other, std::string(kCompressorSetupText));
}

GzEncoder::~GzEncoder() {
  (void)finish_stream();
  if (state_->zs_ready) deflateEnd(&state_->zs);
  // The UniqueFd closes the file if close_file() was not called.
}

Status GzEncoder::write(std::string_view bytes) {
  State& s = *state_;
  if (s.failure) return *s.failure;
  if (s.finished)
    return s.fail(Error::fixed(ErrorKind::Other, std::string(kWriteAfterFinishText)));
  if (auto st = s.ensure_header(); !st) return st;
  while (!bytes.empty()) {
    if (auto st = s.dump(); !st) return st;
    const size_t chunk = std::min<size_t>(bytes.size(), UINT_MAX);
    s.zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    s.zs.avail_in = static_cast<uInt>(chunk);
    int rc = s.deflate_step(Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_BUF_ERROR)
      return s.fail(Error::fixed(ErrorKind::Other, std::string(kCompressorFailedText)));
    const size_t taken = chunk - s.zs.avail_in;
    s.crc = crc32(s.crc, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(taken));
    s.length += taken;
    bytes.remove_prefix(taken);
  }
  return {};
}

Status GzEncoder::finish_stream() {
  State& s = *state_;
  if (s.failure) return *s.failure;
  if (s.finished) return {};
  if (auto st = s.ensure_header(); !st) return st;
  s.zs.next_in = Z_NULL;
  s.zs.avail_in = 0;
  for (;;) {
    if (auto st = s.dump(); !st) return st;
    int rc = s.deflate_step(Z_FINISH);
    if (rc == Z_STREAM_END) break;
    if (rc != Z_OK && rc != Z_BUF_ERROR)
      return s.fail(Error::fixed(ErrorKind::Other, std::string(kCompressorFailedText)));
  }
  if (auto st = s.dump(); !st) return st;
  unsigned char trailer[8];
  const uint32_t crc = static_cast<uint32_t>(s.crc);
  const uint32_t length = static_cast<uint32_t>(s.length);
  for (int i = 0; i < 4; ++i) {
    trailer[i] = static_cast<unsigned char>(crc >> (8 * i));
    trailer[4 + i] = static_cast<unsigned char>(length >> (8 * i));
  }
  if (auto st = s.write_file(std::string_view(reinterpret_cast<char*>(trailer), 8)); !st)
    return st;
  s.finished = true;
  return {};
}

Status GzEncoder::close_file() { return state_->file.close_checked(); }

}  // namespace diagpack
