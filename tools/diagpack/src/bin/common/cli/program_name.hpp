// The name shown in usage lines, taken from argv[0].
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace diagpack {

// Shown where argv[0] gives no usable name.
inline constexpr std::string_view kCommandName = "diagpack";

// The file_name of |argv0| (so "/usr/bin/x/" and "x/." both give "x").
// Returns kCommandName where there is none (an empty argv0, "/", "." alone,
// a last component "..") or when it is not valid UTF-8.
std::string program_name(std::string_view argv0);

// program_name of args[0], or kCommandName when |args| is empty.
std::string program_name(const std::vector<std::string>& args);

}  // namespace diagpack
