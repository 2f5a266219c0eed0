// One DEFLATE stream on the calling thread. write() feeds the caller's bytes
// to deflate with Z_NO_FLUSH; compressed output lands in a 32 KiB buffer,
// and before each further deflate call whatever the buffer holds goes to the
// file. The CRC is updated with exactly the bytes deflate consumed. finish()
// drives Z_FINISH until deflate reports the end of the stream and writes
// what is left in the buffer. Memory is the buffer plus zlib's fixed state
// at level 6 (memLevel 8): nothing grows with the input.
#include "archive/serial_deflate.hpp"

#include <zlib.h>  // deflate*, crc32

#include <algorithm>  // min
#include <array>
#include <climits>  // UINT_MAX
#include <cstring>  // memset
#include <string>

#include "sys/fd_io.hpp"  // write_all

namespace diagpack {

namespace {

constexpr size_t kOutputBufferSize = 32 * 1024;

Error compressor_failed() {
  return Error::fixed(ErrorKind::Other, std::string(kCompressorFailedText));
}

}  // namespace

struct SerialDeflater::State {
  int fd = -1;
  z_stream zs;
  uLong crc = crc32(0L, Z_NULL, 0);
  std::array<unsigned char, kOutputBufferSize> out;
  size_t buffered = 0;  // compressed bytes in |out| not yet in the file

  // Writes what the buffer holds and empties it.
  Status dump() {
    if (buffered == 0) return {};
    size_t n = buffered;
    buffered = 0;
    return write_all(
        fd, std::string_view(reinterpret_cast<const char*>(out.data()), n));
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

Result<std::unique_ptr<SerialDeflater>> SerialDeflater::create(int fd,
                                                               int level) {
  auto state = std::make_unique<State>();
  state->fd = fd;
  std::memset(&state->zs, 0, sizeof state->zs);
  if (deflateInit2(&state->zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) !=
      Z_OK)
    return Error::fixed(ErrorKind::Other, std::string(kCompressorSetupText));
  return std::unique_ptr<SerialDeflater>(new SerialDeflater(std::move(state)));
}

SerialDeflater::SerialDeflater(std::unique_ptr<State> state)
    : state_(std::move(state)) {}

SerialDeflater::~SerialDeflater() { deflateEnd(&state_->zs); }

Status SerialDeflater::write(std::string_view bytes) {
  State& s = *state_;
  while (!bytes.empty()) {
    if (auto st = s.dump(); !st) return st;
    const size_t chunk = std::min<size_t>(bytes.size(), UINT_MAX);
    s.zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    s.zs.avail_in = static_cast<uInt>(chunk);
    int rc = s.deflate_step(Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_BUF_ERROR) return compressor_failed();
    const size_t taken = chunk - s.zs.avail_in;
    s.crc = crc32(s.crc, reinterpret_cast<const Bytef*>(bytes.data()),
                  static_cast<uInt>(taken));
    bytes.remove_prefix(taken);
  }
  return {};
}

Status SerialDeflater::finish() {
  State& s = *state_;
  s.zs.next_in = Z_NULL;
  s.zs.avail_in = 0;
  for (;;) {
    if (auto st = s.dump(); !st) return st;
    int rc = s.deflate_step(Z_FINISH);
    if (rc == Z_STREAM_END) break;
    if (rc != Z_OK && rc != Z_BUF_ERROR) return compressor_failed();
  }
  return s.dump();
}

uint32_t SerialDeflater::crc() const {
  return static_cast<uint32_t>(state_->crc);
}

}  // namespace diagpack
