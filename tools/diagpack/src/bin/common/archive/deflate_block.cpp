// One block of a parallel DEFLATE stream. The compressor is reset for each
// block and primed with the stream's preceding 32 KiB (deflateSetDictionary),
// so matches may reach back across the cut exactly as a single stream's
// would, and the ratio stays within a fraction of a percent of one stream.
// A block other than the last ends with Z_SYNC_FLUSH: the pending data goes
// out in a block that is not final, followed by an empty stored block, which
// leaves the output at a byte boundary. The next block, compressed by
// whichever thread, then simply continues the stream. The last block ends
// with Z_FINISH, whose final block closes the stream; an empty last block
// still yields that final block, two bytes.
#include "archive/deflate_block.hpp"

#include <zlib.h>  // deflate*, deflateSetDictionary, deflateBound

#include <algorithm>  // min
#include <climits>    // UINT_MAX
#include <cstring>    // memset
#include <string>

#include "archive/deflate_engine.hpp"  // kCompressorSetupText, kCompressorFailedText

namespace diagpack {

namespace {

// Room beyond deflateBound for the sync-flush marker and block headers.
constexpr size_t kFlushMargin = 64;

Error compressor_failed() {
  return Error::fixed(ErrorKind::Other, std::string(kCompressorFailedText));
}

}  // namespace

struct BlockDeflater::Stream {
  z_stream zs;
};

void BlockDeflater::StreamEnd::operator()(Stream* stream) const {
  deflateEnd(&stream->zs);
  delete stream;
}

BlockDeflater::BlockDeflater(std::unique_ptr<Stream, StreamEnd> stream)
    : stream_(std::move(stream)) {}

Result<BlockDeflater> BlockDeflater::create(int level) {
  auto* stream = new Stream;
  std::memset(&stream->zs, 0, sizeof stream->zs);
  if (deflateInit2(&stream->zs, level, Z_DEFLATED, -15, 8,
                   Z_DEFAULT_STRATEGY) != Z_OK) {
    delete stream;
    return Error::fixed(ErrorKind::Other, std::string(kCompressorSetupText));
  }
  return BlockDeflater(std::unique_ptr<Stream, StreamEnd>(stream));
}

Result<size_t> BlockDeflater::compress(std::span<const unsigned char> dict,
                                       std::span<const unsigned char> data,
                                       bool last,
                                       std::vector<unsigned char>& out) {
  z_stream& zs = stream_->zs;
  if (data.size() > UINT_MAX || dict.size() > kWindowSize)
    return compressor_failed();
  if (deflateReset(&zs) != Z_OK) return compressor_failed();
  if (!dict.empty() &&
      deflateSetDictionary(&zs, dict.data(), static_cast<uInt>(dict.size())) !=
          Z_OK)
    return compressor_failed();

  const size_t bound =
      deflateBound(&zs, static_cast<uLong>(data.size())) + kFlushMargin;
  if (out.size() < bound) out.resize(bound);
  zs.next_in = const_cast<Bytef*>(data.data());
  zs.avail_in = static_cast<uInt>(data.size());
  const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
  size_t produced = 0;
  for (;;) {
    if (produced == out.size()) out.resize(out.size() + out.size() / 2);
    const size_t room = std::min<size_t>(out.size() - produced, UINT_MAX);
    zs.next_out = out.data() + produced;
    zs.avail_out = static_cast<uInt>(room);
    const int rc = deflate(&zs, flush);
    produced += room - zs.avail_out;
    if (rc == Z_STREAM_END) break;
    if (rc != Z_OK && rc != Z_BUF_ERROR) return compressor_failed();
    // A sync flush is complete once deflate leaves output space unused.
    if (!last && zs.avail_in == 0 && zs.avail_out != 0) break;
  }
  return produced;
}

}  // namespace diagpack
