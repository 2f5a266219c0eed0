// GzEncoder: one gzip member written to an open file, the content
// compressed as one raw DEFLATE stream, on every CPU the process may use.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "archive/byte_sink.hpp"
#include "sys/unique_fd.hpp"

namespace diagpack {

class GzEncoder : public ByteSink {
 public:
  // Compressing threads at most, whatever the CPU count.
  static constexpr unsigned kMaxThreads = 8;
  // Input bytes per block handed to a compressing thread (gz_encoder.cpp
  // says why this size).
  static constexpr size_t kDefaultBlockSize = 256 * 1024;

  // Takes ownership of |file| (open for writing). Compresses on as many
  // threads as the process's affinity mask has CPUs (at most kMaxThreads);
  // with one CPU, on the calling thread alone. Writes nothing yet.
  explicit GzEncoder(UniqueFd file, int level = 6);
  // As above with |threads| compressing threads (0 or 1: the calling thread
  // alone, no worker) and blocks of |block_size| bytes. For tests and
  // benchmarks.
  GzEncoder(UniqueFd file, int level, unsigned threads,
            size_t block_size = kDefaultBlockSize);
  // Finishes the stream if that was not done, ignoring its errors, and
  // closes the file. No thread of the encoder outlives it.
  ~GzEncoder() override;
  GzEncoder(const GzEncoder&) = delete;
  GzEncoder& operator=(const GzEncoder&) = delete;

  // Compresses |bytes|; the 10-byte gzip header goes out first, once.
  // Returns the first error writing the file (or of the compressor); an
  // error is returned again by every later call.
  Status write(std::string_view bytes) override;

  // Writes the header if not yet written, ends the DEFLATE stream, writes
  // the remaining compressed data and the 8-byte trailer. Once only; later
  // calls return success and do nothing. Every compressing thread has been
  // joined when it returns, whatever the result.
  Status finish_stream();

  // Closes the file, reporting the close error.
  Status close_file();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace diagpack
