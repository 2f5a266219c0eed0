// The one place where a DEFLATE compressor is set up. windowBits -15 asks
// zlib for a raw stream of 32 KiB window, which the gzip frame around it
// and the block scheme (matches reach back at most 32 KiB, so a block primed
// with the 32 KiB before it continues the stream) both rely on. memLevel 8
// is zlib's default: about 256 KiB of state at level 6.
#include "archive/raw_deflate.hpp"

#include <zlib.h>  // deflateInit2, deflateEnd

#include <string>

#include "archive/deflate_engine.hpp"  // kCompressorSetupText, kCompressorFailedText

namespace diagpack {

namespace {

constexpr int kRawWindowBits = -15;
constexpr int kMemLevel = 8;

}  // namespace

void RawDeflate::End::operator()(z_stream_s* stream) const {
  deflateEnd(stream);
  delete stream;
}

RawDeflate::RawDeflate(std::unique_ptr<z_stream_s, End> stream)
    : stream_(std::move(stream)) {}

Result<RawDeflate> RawDeflate::create(int level) {
  auto* stream = new z_stream{};
  if (deflateInit2(stream, level, Z_DEFLATED, kRawWindowBits, kMemLevel,
                   Z_DEFAULT_STRATEGY) != Z_OK) {
    delete stream;
    return compressor_setup_error();
  }
  return RawDeflate(std::unique_ptr<z_stream_s, End>(stream));
}

Error compressor_setup_error() {
  return Error::fixed(ErrorKind::Other, std::string(kCompressorSetupText));
}

Error compressor_failed_error() {
  return Error::fixed(ErrorKind::Other, std::string(kCompressorFailedText));
}

}  // namespace diagpack
