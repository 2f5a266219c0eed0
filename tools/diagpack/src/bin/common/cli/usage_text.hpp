// The help text and the usage-error texts, as styled text.
#pragma once

#include <string_view>

#include "cli/argument_walk.hpp"
#include "cli/styled_text.hpp"

namespace diagpack {

inline constexpr std::string_view kAboutText =
    "Collects Quorvane SDK logs and config files";
inline constexpr std::string_view kUsageHeading = "Usage:";
inline constexpr std::string_view kOptionsHeading = "Options:";
inline constexpr std::string_view kShortHelpFlag = "-h";
inline constexpr std::string_view kLongHelpFlag = "--help";
inline constexpr std::string_view kHelpFlagText = "Print help";
inline constexpr std::string_view kErrorLabel = "error:";
inline constexpr std::string_view kTipLabel = "tip:";

// The help, six lines, each ending in a line feed:
//   Collects Quorvane SDK logs and config files
//
//   Usage: <program>
//
//   Options:
//     -h, --help  Print help
StyledText help_text(std::string_view program);

// The usage error for |error|, for example:
//   error: unexpected argument '--hel' found
//
//     tip: a similar argument exists: '--help'
//
//   Usage: <program> --help
//
//   For more information, try '--help'.
// The tip (and the blank line before it) only with a suggestion; " --help"
// on the usage line with a suggestion or for an unexpected value.
StyledText error_text(const ArgumentError& error, std::string_view program);

}  // namespace diagpack
