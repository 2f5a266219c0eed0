// A ByteSink that collects everything in memory, for the tests and fuzz
// targets that look at the tar stream itself.
#pragma once

#include <string>
#include <string_view>

#include "archive/byte_sink.hpp"

namespace diagpack {

class StringSink : public ByteSink {
 public:
  Status write(std::string_view bytes) override {
    data.append(bytes);
    return {};
  }
  std::string data;
};

}  // namespace diagpack
