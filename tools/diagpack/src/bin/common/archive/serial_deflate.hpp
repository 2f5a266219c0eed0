// SerialDeflater: the gzip body compressed on the calling thread, block by
// block exactly as the parallel engine does it, so the bytes are the same
// whichever engine ran. GzEncoder uses it when the process has one CPU or
// no worker thread can be started.
#pragma once

#include <cstddef>
#include <memory>

#include "archive/deflate_engine.hpp"

namespace diagpack {

class SerialDeflater final : public DeflateEngine {
 public:
  // A compressor at |level| cutting blocks of |block_size| bytes (clamped to
  // 1 byte .. 1 GiB), writing to |fd| (not owned). Returns
  // kCompressorSetupText when zlib cannot be set up.
  static Result<std::unique_ptr<SerialDeflater>> create(int fd, int level,
                                                        size_t block_size);
  ~SerialDeflater() override;
  SerialDeflater(const SerialDeflater&) = delete;
  SerialDeflater& operator=(const SerialDeflater&) = delete;

  // Copies |bytes| into the block; compresses and writes each full block.
  Status write(std::string_view bytes) override;
  Status finish() override;
  uint32_t crc() const override;

 private:
  struct State;
  explicit SerialDeflater(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace diagpack
