// One DEFLATE stream on the calling thread, cut into the same blocks as the
// parallel engine's (deflate_block.cpp explains the blocks and what is
// stored). The input buffer holds the stream's last 32 KiB, the window,
// followed by the block being filled; a full block is compressed with the
// window as its dictionary, the output written to the file, and the last
// 32 KiB of window and block moved to the front as the next window. The
// CRC is updated with each block as it is compressed.
//
// One plain stream would save the few bytes of each block's flush marker
// and the priming of each block (a pass over 32 KiB per 256 KiB), a few
// per cent of the time at most; the blocks buy an archive whose bytes do
// not depend on the number of CPUs, and stored blocks for data that does
// not compress. Memory is fixed: the window, one block, its compressed
// output (rarely larger than the block) and one zlib state.
#include "archive/serial_deflate.hpp"

#include <zlib.h>  // crc32

#include <algorithm>  // clamp, min
#include <cstring>    // memcpy, memmove
#include <vector>

#include "archive/deflate_block.hpp"
#include "sys/files.hpp"  // write_all

namespace diagpack {

namespace {

constexpr size_t kWindowSize = BlockDeflater::kWindowSize;
constexpr size_t kMaxBlockSize = size_t{1} << 30;

}  // namespace

struct SerialDeflater::State {
  State(int fd, size_t block_size, BlockDeflater deflater)
      : fd(fd),
        block_size(block_size),
        deflater(std::move(deflater)),
        in(new unsigned char[kWindowSize + block_size]) {}

  int fd;
  size_t block_size;
  BlockDeflater deflater;
  std::unique_ptr<unsigned char[]> in;  // the window, then the block
  size_t window_len = 0;
  size_t data_len = 0;
  std::vector<unsigned char> out;
  uLong crc = crc32(0L, Z_NULL, 0);

  // Compresses and writes the block, then keeps its tail as the window.
  Status flush_block(bool last) {
    const unsigned char* data = in.get() + window_len;
    crc = crc32_z(crc, data, data_len);
    auto produced =
        deflater.compress({in.get(), window_len}, {data, data_len}, last, out);
    if (!produced) return produced.take_error();
    if (auto st = write_all(
            fd, std::string_view(reinterpret_cast<const char*>(out.data()),
                                 *produced));
        !st)
      return st;
    const size_t total = window_len + data_len;
    window_len = std::min(total, kWindowSize);
    std::memmove(in.get(), in.get() + total - window_len, window_len);
    data_len = 0;
    return {};
  }
};

Result<std::unique_ptr<SerialDeflater>> SerialDeflater::create(
    int fd, int level, size_t block_size) {
  auto deflater = BlockDeflater::create(level);
  if (!deflater) return deflater.take_error();
  return std::unique_ptr<SerialDeflater>(
      new SerialDeflater(std::make_unique<State>(
          fd, std::clamp<size_t>(block_size, 1, kMaxBlockSize),
          std::move(*deflater))));
}

SerialDeflater::SerialDeflater(std::unique_ptr<State> state)
    : state_(std::move(state)) {}

SerialDeflater::~SerialDeflater() = default;

Status SerialDeflater::write(std::string_view bytes) {
  State& s = *state_;
  while (!bytes.empty()) {
    const size_t n = std::min(s.block_size - s.data_len, bytes.size());
    std::memcpy(s.in.get() + s.window_len + s.data_len, bytes.data(), n);
    s.data_len += n;
    bytes.remove_prefix(n);
    if (s.data_len == s.block_size)
      if (auto st = s.flush_block(false); !st) return st;
  }
  return {};
}

Status SerialDeflater::finish() { return state_->flush_block(true); }

uint32_t SerialDeflater::crc() const {
  return static_cast<uint32_t>(state_->crc);
}

}  // namespace diagpack
