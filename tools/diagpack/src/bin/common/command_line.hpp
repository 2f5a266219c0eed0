// The command line: only -h / --help and a lone "--" are understood.
#pragma once

#include <optional>

#include "console.hpp"
#include "environment.hpp"

namespace diagpack {

// Examines env.args. Returns nothing when the run may go on; otherwise
// writes the help (status 0) or the usage error (status 2) and returns the
// exit status the process must end with.
std::optional<int> parse_command_line(const Environment& env,
                                      const Console& console);

}  // namespace diagpack
