// RawDeflate: zlib's compressor set up the one way this program uses it,
// raw DEFLATE (no zlib or gzip wrapper: the gzip frame is written by hand)
// with a 32 KiB window and the default memory level and strategy.
#pragma once

#include <memory>

#include "base/result.hpp"

struct z_stream_s;

namespace diagpack {

class RawDeflate {
 public:
  // A compressor at |level| (0..9). Returns kCompressorSetupText when zlib
  // cannot be set up (out of memory, a level zlib refuses).
  static Result<RawDeflate> create(int level);

  // The set-up stream, ready for deflate(); it stays at one address for the
  // owner's lifetime, as zlib's state points back at it.
  z_stream_s& stream() { return *stream_; }

 private:
  struct End {
    void operator()(z_stream_s* stream) const;
  };
  explicit RawDeflate(std::unique_ptr<z_stream_s, End> stream);
  std::unique_ptr<z_stream_s, End> stream_;
};

// The error values for the two compressor texts (deflate_engine.hpp).
Error compressor_setup_error();
Error compressor_failed_error();

}  // namespace diagpack
