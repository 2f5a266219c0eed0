#include "cli/argument_walk.hpp"

#include <optional>
#include <string_view>

#include "base/utf8.hpp"  // utf8_lossy, first_utf8_sequence
#include "cli/jaro.hpp"   // jaro_similarity_above

namespace diagpack {

namespace {

// A mistyped long name gets the tip when it is more similar to "help" than
// this, strictly: 7/10, compared exactly.
constexpr unsigned kSuggestionNumerator = 7;
constexpr unsigned kSuggestionDenominator = 10;

ArgumentError unexpected_argument(std::string_view echo_bytes,
                                  bool suggests_help = false) {
  return ArgumentError{ArgumentError::Kind::UnexpectedArgument,
                       utf8_lossy(echo_bytes), suggests_help};
}

// "--name" or "--name=value".
std::optional<ArgumentsOutcome> long_option(std::string_view token) {
  const std::string_view body = token.substr(2);
  const size_t eq = body.find('=');
  const std::string_view name = body.substr(0, eq);
  if (name == kHelpName) {
    if (eq == std::string_view::npos) return HelpRequested{};
    return ArgumentError{ArgumentError::Kind::UnexpectedValue,
                         utf8_lossy(body.substr(eq + 1)), false};
  }
  const bool close = !name.empty() && jaro_similarity_above(
                                          name, kHelpName, kSuggestionNumerator,
                                          kSuggestionDenominator);
  return unexpected_argument(token.substr(0, 2 + name.size()), close);
}

// "-xyz": the first character after the dash decides.
std::optional<ArgumentsOutcome> short_cluster(std::string_view token) {
  const std::string_view rest = token.substr(1);
  if (rest[0] == 'h') return HelpRequested{};
  const Utf8Sequence first = first_utf8_sequence(rest);
  if (!first.well_formed) return unexpected_argument(token);
  return unexpected_argument(token.substr(0, 1 + first.length));
}

}  // namespace

ArgumentsOutcome examine_arguments(const std::vector<std::string>& args) {
  bool escaped = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string_view token = args[i];
    std::optional<ArgumentsOutcome> decided;
    if (escaped) {
      decided = unexpected_argument(token);
    } else if (token == "--") {
      escaped = true;
    } else if (token.substr(0, 2) == "--") {
      decided = long_option(token);
    } else if (token.size() > 1 && token[0] == '-') {
      decided = short_cluster(token);
    } else {
      decided = unexpected_argument(token);
    }
    if (decided) return *decided;
  }
  return ArgumentsAccepted{};
}

}  // namespace diagpack
