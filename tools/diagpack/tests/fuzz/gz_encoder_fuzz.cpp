// Fuzzes the gzip encoder over arbitrary content, block sizes and write
// sizes. The same content goes through the calling-thread engine and through
// two workers, each fed in differently cut writes; besides the sanitizers'
// checks it holds the encoder to:
// - both files are the same bytes (neither the engine nor the cuts of the
//   writes show in the output);
// - the file is one gzip member of exactly the content.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>  // min
#include <cstdint>
#include <cstdlib>
#include <string>

#include "archive/gz_encoder.hpp"
#include "sys/unique_fd.hpp"

namespace {

using namespace diagpack;

void check(bool ok) {
  if (!ok) std::abort();
}

// The content encoded by |threads| threads in blocks of |block| bytes,
// written in pieces of 1 to |most| bytes; the whole file.
std::string encode(const std::string& content, unsigned threads, size_t block,
                   size_t most) {
  const int fd = ::memfd_create("gz", MFD_CLOEXEC);
  check(fd >= 0);
  {
    GzEncoder gz(UniqueFd(::dup(fd)), 6, threads, block);
    size_t at = 0, step = 1;
    while (at < content.size()) {
      const size_t n = std::min(content.size() - at, step);
      check(gz.write(std::string_view(content).substr(at, n)).ok());
      at += n;
      step = step % most + 1;
    }
    check(gz.finish_stream().ok());
    check(gz.close_file().ok());
  }
  std::string out(static_cast<size_t>(::lseek(fd, 0, SEEK_END)), '\0');
  check(::pread(fd, out.data(), out.size(), 0) ==
        static_cast<ssize_t>(out.size()));
  ::close(fd);
  return out;
}

// One gzip member of exactly |content|: our header, then zlib's gzip
// decoder, which checks the trailer's CRC-32 and length, ends exactly at the
// end of the file.
void check_member(std::string gz, const std::string& content) {
  check(gz.compare(0, 10, "\x1f\x8b\x08\0\0\0\0\0\0\xff", 10) == 0);
  z_stream zs{};
  check(inflateInit2(&zs, 16 + 15) == Z_OK);
  std::string out(content.size() + 1, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(gz.data());
  zs.avail_in = static_cast<uInt>(gz.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  check(inflate(&zs, Z_FINISH) == Z_STREAM_END && zs.avail_in == 0);
  check(zs.total_out == content.size() &&
        out.compare(0, content.size(), content) == 0);
  inflateEnd(&zs);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  // Small blocks, so that short inputs cross several cuts (not too many:
  // each block primes its compressor with the 32 KiB before it).
  const size_t block = in.ConsumeIntegralInRange<size_t>(64, 64 * 1024);
  const size_t most_a = in.ConsumeIntegralInRange<size_t>(1, 70000);
  const size_t most_b = in.ConsumeIntegralInRange<size_t>(1, 70000);
  // The content: raw bytes, or repeated when asked, for long matches that
  // run across the cuts.
  const unsigned repeat = in.ConsumeIntegralInRange<unsigned>(1, 16);
  const std::string piece = in.ConsumeRemainingBytesAsString();
  std::string content;
  for (unsigned i = 0; i < repeat; ++i) content += piece;

  const std::string serial = encode(content, 1, block, most_a);
  check_member(serial, content);
  check(encode(content, 2, block, most_b) == serial);
  return 0;
}
