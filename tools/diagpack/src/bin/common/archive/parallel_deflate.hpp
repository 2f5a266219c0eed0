// ParallelDeflater: the gzip body as one raw DEFLATE stream whose blocks are
// compressed by worker threads and written to the file in order.
#pragma once

#include <cstddef>
#include <memory>

#include "archive/deflate_engine.hpp"

namespace diagpack {

class ParallelDeflater final : public DeflateEngine {
 public:
  // Starts |threads| workers compressing blocks of |block_size| bytes
  // (clamped to 1 byte .. 1 GiB) at |level|, writing to |fd| (not owned).
  // Runs with fewer workers when the system refuses to start more. Returns
  // kCompressorSetupText when zlib cannot be set up, or the error of
  // starting the first worker.
  static Result<std::unique_ptr<ParallelDeflater>> start(int fd, int level,
                                                         unsigned threads,
                                                         size_t block_size);
  // Stops the workers and joins them; a block being compressed is finished
  // first, queued ones are dropped.
  ~ParallelDeflater() override;
  ParallelDeflater(const ParallelDeflater&) = delete;
  ParallelDeflater& operator=(const ParallelDeflater&) = delete;

  // Copies |bytes| into blocks and hands each full block to the workers;
  // blocks already compressed are written on the way. Waits only when every
  // block buffer is in use.
  Status write(std::string_view bytes) override;
  // Hands on the last block, writes every block in order and joins the
  // workers.
  Status finish() override;
  uint32_t crc() const override;

 private:
  struct State;
  explicit ParallelDeflater(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace diagpack
