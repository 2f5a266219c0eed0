// The name shown in usage lines, taken from argv[0].
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace diagpack {

// Shown where argv[0] gives no usable name.
inline constexpr std::string_view kCommandName = "diagpack";

// The final component of |argv0| read as a path, with empty and "."
// components ignored (so "/usr/bin/x/" and "x/." both give "x"). Returns
// kCommandName when no component is left, when the last one is "..", or
// when it is not valid UTF-8.
std::string program_name(std::string_view argv0);

// program_name of args[0], or kCommandName when |args| is empty.
std::string program_name(const std::vector<std::string>& args);

}  // namespace diagpack
