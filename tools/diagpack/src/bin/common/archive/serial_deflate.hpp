// SerialDeflater: the gzip body as one raw DEFLATE stream compressed on the
// calling thread. GzEncoder uses it when the process has one CPU.
#pragma once

#include <memory>

#include "archive/deflate_engine.hpp"

namespace diagpack {

class SerialDeflater final : public DeflateEngine {
 public:
  // A compressor at |level| writing to |fd| (not owned). Returns
  // kCompressorSetupText when zlib cannot be set up.
  static Result<std::unique_ptr<SerialDeflater>> create(int fd, int level);
  ~SerialDeflater() override;
  SerialDeflater(const SerialDeflater&) = delete;
  SerialDeflater& operator=(const SerialDeflater&) = delete;

  Status write(std::string_view bytes) override;
  Status finish() override;
  uint32_t crc() const override;

 private:
  struct State;
  explicit SerialDeflater(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace diagpack
