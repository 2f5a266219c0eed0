#include "command_line.hpp"

namespace diagpack {

std::optional<int> parse_command_line(const Environment&, const Console&) {
  return std::nullopt;
}

}  // namespace diagpack
