// The command line: only -h / --help and a lone "--" are understood.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/environment.hpp"
#include "cli/styled_text.hpp"
#include "sys/console.hpp"

namespace diagpack {

inline constexpr int kHelpStatus = 0;
inline constexpr int kUsageErrorStatus = 2;

// What the process answers to its arguments when it does not run.
struct CommandLineReply {
  int status = kHelpStatus;      // kHelpStatus or kUsageErrorStatus
  bool to_error_stream = false;  // the usage error goes to standard error
  StyledText text;
};

// The reply to |args| (argv[0] first, raw bytes), or nothing when they are
// accepted. Pure: reads nothing but |args|.
std::optional<CommandLineReply> command_line_reply(
    const std::vector<std::string>& args);

// Examines env.args. Returns nothing when the run may go on; otherwise
// writes the help (status 0) to console.out_fd or the usage error (status 2)
// to console.err_fd, coloured as colour_choice.hpp decides for that
// descriptor, and returns the exit status the process must end with. A
// failed write is ignored: the status stays the same.
std::optional<int> parse_command_line(const Environment& env,
                                      const Console& console);

}  // namespace diagpack
