#include "cli/command_line.hpp"

#include <variant>

#include "cli/argument_walk.hpp"  // examine_arguments
#include "cli/colour_choice.hpp"  // colour_wanted_for_fd
#include "cli/program_name.hpp"   // program_name
#include "cli/usage_text.hpp"     // help_text, error_text

namespace diagpack {

std::optional<CommandLineReply> command_line_reply(
    const std::vector<std::string>& args) {
  const ArgumentsOutcome outcome = examine_arguments(args);
  if (std::holds_alternative<ArgumentsAccepted>(outcome)) return std::nullopt;
  const std::string program = program_name(args);
  if (std::holds_alternative<HelpRequested>(outcome))
    return CommandLineReply{kHelpStatus, false, help_text(program)};
  return CommandLineReply{
      kUsageErrorStatus, true,
      error_text(std::get<ArgumentError>(outcome), program)};
}

std::optional<int> parse_command_line(const Environment& env,
                                      const Console& console) {
  auto reply = command_line_reply(env.args);
  if (!reply) return std::nullopt;
  const int fd = reply->to_error_stream ? console.err_fd : console.out_fd;
  Console::write_raw(fd, render(reply->text, colour_wanted_for_fd(env, fd)));
  return reply->status;
}

}  // namespace diagpack
