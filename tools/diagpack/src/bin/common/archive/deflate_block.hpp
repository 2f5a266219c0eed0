// BlockDeflater: compresses one block of a DEFLATE stream that is cut into
// independently compressed pieces. Each piece is a DEFLATE fragment that
// starts at a byte boundary and, unless it is the last, ends at one with
// the stream still open, so the pieces joined in order are one stream.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <vector>

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
  // block ends the stream with a final block; any other ends with a sync
  // flush (byte-aligned, stream open). Returns kCompressorFailedText when
  // zlib refuses.
  Result<size_t> compress(std::span<const unsigned char> dict,
                          std::span<const unsigned char> data, bool last,
                          std::vector<unsigned char>& out);

  // How far back DEFLATE can refer: the useful dictionary size.
  static constexpr size_t kWindowSize = 32 * 1024;

 private:
  struct Stream;
  struct StreamEnd {
    void operator()(Stream* stream) const;
  };
  explicit BlockDeflater(std::unique_ptr<Stream, StreamEnd> stream);
  // zlib's state points back at its z_stream, so the stream never moves.
  std::unique_ptr<Stream, StreamEnd> stream_;
};

}  // namespace diagpack
