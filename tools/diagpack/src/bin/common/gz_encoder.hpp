// GzEncoder: one gzip member written to an open file, the content
// compressed as one raw DEFLATE stream.
#pragma once

#include <memory>
#include <string_view>

#include "byte_sink.hpp"
#include "unique_fd.hpp"

namespace diagpack {

class GzEncoder : public ByteSink {
 public:
  // Takes ownership of |file| (open for writing). Writes nothing yet.
  explicit GzEncoder(UniqueFd file, int level = 6);
  // Finishes the stream if that was not done, ignoring its errors, and
  // closes the file.
  ~GzEncoder() override;
  GzEncoder(const GzEncoder&) = delete;
  GzEncoder& operator=(const GzEncoder&) = delete;

  // Compresses |bytes|; the 10-byte gzip header goes out first, once.
  // Returns the first error writing the file.
  Status write(std::string_view bytes) override;

  // Writes the header if not yet written, ends the DEFLATE stream, writes
  // the remaining compressed data and the 8-byte trailer. Once only; later
  // calls return success and do nothing.
  Status finish_stream();

  // Closes the file, reporting the close error.
  Status close_file();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace diagpack
