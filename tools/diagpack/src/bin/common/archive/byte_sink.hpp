// Where a stream of bytes goes: the gzip encoder in a real run, a string in
// tests and fuzzing.
#pragma once

#include <string_view>

#include "base/result.hpp"

namespace diagpack {

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Takes all of |bytes| or returns the error that stopped it.
  virtual Status write(std::string_view bytes) = 0;
};

}  // namespace diagpack
