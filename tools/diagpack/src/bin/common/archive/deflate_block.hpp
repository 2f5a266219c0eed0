// BlockDeflater: compresses one block of a DEFLATE stream that is cut into
// independently compressed pieces. Each piece is a DEFLATE fragment that
// starts at a byte boundary and, unless it is the last, ends at one with
// the stream still open, so the pieces joined in order are one stream.
// Parts of the block that would not shrink are stored, not compressed.
#pragma once

#include <cstddef>
#include <span>
#include <utility>
#include <vector>

#include "archive/raw_deflate.hpp"
#include "base/result.hpp"

namespace diagpack {

class BlockDeflater {
 public:
  // A raw DEFLATE compressor at |level|. Returns kCompressorSetupText when
  // zlib cannot be set up.
  static Result<BlockDeflater> create(int level);

  // Compresses |data| into |out| (grown as needed, never shrunk) and
  // returns the number of bytes produced. Back-references may reach into
  // |dict|, the up to 32 KiB of the stream just before |data|. A |last|
  // block ends the stream with a final block; any other ends byte-aligned
  // with the stream open. The bytes produced depend only on |dict|, |data|
  // and |last|. Returns kCompressorFailedText when zlib refuses, or when
  // |data| exceeds 4 GiB or |dict| 32 KiB.
  Result<size_t> compress(std::span<const unsigned char> dict,
                          std::span<const unsigned char> data, bool last,
                          std::vector<unsigned char>& out);

  // How far back DEFLATE can refer: the useful dictionary size.
  static constexpr size_t kWindowSize = 32 * 1024;

 private:
  explicit BlockDeflater(RawDeflate deflate) : deflate_(std::move(deflate)) {}
  // Compresses |data| after priming with |dict|, appending at |produced|.
  Status deflate_run(std::span<const unsigned char> dict,
                     std::span<const unsigned char> data, bool last,
                     std::vector<unsigned char>& out, size_t& produced);

  RawDeflate deflate_;
  std::vector<bool> compressible_;     // per piece of the block
  std::vector<unsigned char> window_;  // a run's window when not contiguous
};

}  // namespace diagpack
