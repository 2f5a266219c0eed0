// DeflateEngine: what turns the uncompressed bytes of a gzip member into the
// member's raw DEFLATE body in the file. Two engines exist, cutting the
// stream into the same blocks: compressed on the calling thread
// (serial_deflate.hpp) or by worker threads (parallel_deflate.hpp). The gzip
// frame around the body, header and trailer, belongs to GzEncoder, which drives
// an engine.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/result.hpp"

namespace diagpack {

// Texts of the errors that the compressor itself can raise.
inline constexpr std::string_view kCompressorSetupText =
    "failed to set up the DEFLATE compressor";
inline constexpr std::string_view kCompressorFailedText =
    "the DEFLATE compressor failed";

class DeflateEngine {
 public:
  // Stops and joins any thread the engine started; compressed data not yet
  // written is dropped.
  virtual ~DeflateEngine() = default;

  // Takes all of |bytes|. Compressed output that is ready may go to the
  // file. Returns the first error writing the file or compressing; after an
  // error the engine is only fit for destruction.
  virtual Status write(std::string_view bytes) = 0;

  // Ends the DEFLATE stream with a final block and writes all remaining
  // compressed output. Called once. Returns the first error as write() does.
  virtual Status finish() = 0;

  // The CRC-32 of all bytes taken; complete once finish() succeeded.
  virtual uint32_t crc() const = 0;
};

}  // namespace diagpack
