// One block of a parallel DEFLATE stream, compressed where that pays and
// stored where it does not.
//
// Joining. The compressor is reset for each block and primed with the
// stream's preceding 32 KiB (deflateSetDictionary), so matches may reach
// back across the cut exactly as a single stream's would, and the ratio
// stays within a fraction of a percent of one stream. A block other than
// the last ends with Z_SYNC_FLUSH: the pending data goes out in a block
// that is not final, followed by an empty stored block, which leaves the
// output at a byte boundary. The next block, compressed by whichever
// thread, then simply continues the stream. The last block ends with
// Z_FINISH, whose final block closes the stream; an empty last block
// still yields that final block, two bytes.
//
// Storing. Log directories hold rotations that are already compressed
// (.gz, .xz, .zst) beside the text. Level 6 spends nearly half again the
// time per byte on such data as on text, only to come out slightly larger
// than it went in (some 85 bytes per 256 KiB). DEFLATE has a block type for
// exactly this case: a stored block is a 3-bit header padded to a byte,
// then LEN and its complement NLEN (16 bits each, little-endian), then LEN
// bytes as they are, at most 65535. Written by hand at a byte boundary it
// costs 5 bytes per 64 KiB and a memcpy.
//
// So the block is judged in 16 KiB pieces (compressibility.cpp says how,
// from two small samples), and consecutive pieces of the same kind form
// runs. A compressible run is compressed just as a whole block is above:
// reset, primed with the 32 KiB of the stream before the run (the end of
// the window, the block's own earlier bytes, or both), sync-flushed. An
// incompressible run becomes stored blocks. Both end at a byte boundary,
// so runs join as blocks do, and a stored block's 3-bit header starts a
// fresh byte, which is what lets us write it without the bit position that
// zlib keeps to itself. The final block of the stream is the last run of
// the last block: Z_FINISH for a compressed run, BFINAL set on the last
// stored block of a stored run. A block whose pieces all look compressible,
// as every block of text does, is one run: its bytes are exactly those of
// compressing it whole.
//
// What storing gives up: a match from a stored run into data 32 KiB back.
// Random-looking bytes only match what they repeat, such as the same small
// .gz file archived twice within 32 KiB; that copy is now stored rather
// than referenced, so the loss is bounded by the repeated bytes plus 5 per
// 64 KiB, and never makes the output larger than the input by more than
// the stored-block headers. A compressed run after a stored one is primed
// with the stored bytes too, so text matches across a stored run are kept.
//
// The judgement and the cuts depend only on the block's bytes, never on
// timing or thread count, so the stream is the same for any thread count.
#include "archive/deflate_block.hpp"

#include <zlib.h>  // deflate*, deflateSetDictionary, deflateBound

#include <algorithm>  // min
#include <climits>    // UINT_MAX
#include <cstring>    // memcpy

#include "archive/compressibility.hpp"

namespace diagpack {

namespace {

// Room beyond deflateBound for the sync-flush marker and block headers.
constexpr size_t kFlushMargin = 64;
// The largest stored block, and its header: the type byte, LEN and NLEN.
constexpr size_t kMaxStored = 65535;
constexpr size_t kStoredHeader = 5;

// Appends |data| at |produced| as stored blocks, the last one final when
// |last|. An empty |data| writes nothing.
void store_run(std::span<const unsigned char> data, bool last,
               std::vector<unsigned char>& out, size_t& produced) {
  const size_t blocks = (data.size() + kMaxStored - 1) / kMaxStored;
  const size_t need = produced + data.size() + blocks * kStoredHeader;
  if (out.size() < need) out.resize(need);
  unsigned char* p = out.data() + produced;
  while (!data.empty()) {
    const size_t len = std::min(data.size(), kMaxStored);
    const bool final_block = last && len == data.size();
    p[0] = final_block ? 1 : 0;  // BFINAL, BTYPE 00 (stored), padding
    p[1] = static_cast<unsigned char>(len);
    p[2] = static_cast<unsigned char>(len >> 8);
    p[3] = static_cast<unsigned char>(~len);
    p[4] = static_cast<unsigned char>(~len >> 8);
    std::memcpy(p + kStoredHeader, data.data(), len);
    p += kStoredHeader + len;
    data = data.subspan(len);
  }
  produced = static_cast<size_t>(p - out.data());
}

}  // namespace

Result<BlockDeflater> BlockDeflater::create(int level) {
  auto deflate = RawDeflate::create(level);
  if (!deflate) return deflate.take_error();
  return BlockDeflater(std::move(*deflate));
}

Status BlockDeflater::deflate_run(std::span<const unsigned char> dict,
                                  std::span<const unsigned char> data,
                                  bool last, std::vector<unsigned char>& out,
                                  size_t& produced) {
  z_stream& zs = deflate_.stream();
  if (deflateReset(&zs) != Z_OK) return compressor_failed_error();
  if (!dict.empty() &&
      deflateSetDictionary(&zs, dict.data(), static_cast<uInt>(dict.size())) !=
          Z_OK)
    return compressor_failed_error();

  const size_t bound = produced +
                       deflateBound(&zs, static_cast<uLong>(data.size())) +
                       kFlushMargin;
  if (out.size() < bound) out.resize(bound);
  zs.next_in = const_cast<Bytef*>(data.data());
  zs.avail_in = static_cast<uInt>(data.size());
  const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
  for (;;) {
    if (produced == out.size()) out.resize(out.size() + out.size() / 2);
    const size_t room = std::min<size_t>(out.size() - produced, UINT_MAX);
    zs.next_out = out.data() + produced;
    zs.avail_out = static_cast<uInt>(room);
    const int rc = deflate(&zs, flush);
    produced += room - zs.avail_out;
    if (rc == Z_STREAM_END) break;
    if (rc != Z_OK && rc != Z_BUF_ERROR) return compressor_failed_error();
    // A sync flush is complete once deflate leaves output space unused.
    if (!last && zs.avail_in == 0 && zs.avail_out != 0) break;
  }
  return {};
}

Result<size_t> BlockDeflater::compress(std::span<const unsigned char> dict,
                                       std::span<const unsigned char> data,
                                       bool last,
                                       std::vector<unsigned char>& out) {
  if (data.size() > UINT_MAX || dict.size() > kWindowSize)
    return compressor_failed_error();
  // Judge every piece first; an empty block is one compressible piece of
  // nothing (the sync marker, or for the last block the final block).
  compressible_.clear();
  for (size_t at = 0; at < data.size() || at == 0;
       at += kCompressibilityPieceSize) {
    const size_t len = std::min(kCompressibilityPieceSize, data.size() - at);
    compressible_.push_back(looks_compressible(data.subspan(at, len)));
  }
  size_t produced = 0;
  for (size_t first = 0; first < compressible_.size();) {
    size_t end_piece = first + 1;
    while (end_piece < compressible_.size() &&
           compressible_[end_piece] == compressible_[first])
      ++end_piece;
    const size_t start = first * kCompressibilityPieceSize;
    const size_t end =
        std::min(end_piece * kCompressibilityPieceSize, data.size());
    const bool final_run = last && end == data.size();
    const auto run = data.subspan(start, end - start);
    first = end_piece;
    if (!compressible_[end_piece - 1]) {
      store_run(run, final_run, out, produced);
      continue;
    }
    // The window before the run: the end of |dict|, then |data|'s start,
    // copied together unless one of them alone is the window.
    const size_t from_data = std::min(start, kWindowSize);
    const size_t from_dict = std::min(dict.size(), kWindowSize - from_data);
    std::span<const unsigned char> window =
        from_data == 0 ? dict : data.subspan(start - from_data, from_data);
    if (from_data != 0 && from_dict != 0) {
      window_.resize(from_dict + from_data);
      std::memcpy(window_.data(), dict.data() + dict.size() - from_dict,
                  from_dict);
      std::memcpy(window_.data() + from_dict, window.data(), from_data);
      window = window_;
    }
    if (auto st = deflate_run(window, run, final_run, out, produced); !st)
      return st.take_error();
  }
  return produced;
}

}  // namespace diagpack
