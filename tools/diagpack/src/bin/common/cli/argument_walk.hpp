// The walk over the arguments: accepted, help, or the first bad token.
#pragma once

#include <string>
#include <variant>
#include <vector>

namespace diagpack {

// The long name of the help flag, as typed after "--".
inline constexpr std::string_view kHelpName = "help";

// Nothing after argv[0], or a lone "--": the run goes on.
struct ArgumentsAccepted {};

// "-h", "--help", or a short cluster starting with "h".
struct HelpRequested {};

struct ArgumentError {
  enum class Kind {
    UnexpectedArgument,  // |shown| is the argument echo
    UnexpectedValue,     // |shown| is the value given to --help
  };
  Kind kind = Kind::UnexpectedArgument;
  std::string shown;           // UTF-8, ill-formed bytes as U+FFFD
  bool suggests_help = false;  // a long name close enough to "help"
};

using ArgumentsOutcome =
    std::variant<ArgumentsAccepted, HelpRequested, ArgumentError>;

// Walks |args| (argv[0] first, skipped; raw bytes) left to right; the first
// token that asks for help or is not understood decides, and nothing after
// it is looked at. After a lone "--" every token is unexpected.
ArgumentsOutcome examine_arguments(const std::vector<std::string>& args);

}  // namespace diagpack
