// Operations on byte-string paths with "/" as the only separator. Paths are
// never normalised: ".", ".." and links in the text stay as they are.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/result.hpp"

namespace diagpack {

// The error of a path that holds a zero byte, which no system call takes.
inline constexpr std::string_view kNulByteText =
    "file name contained an unexpected NUL byte";

// Fails with kNulByteText, kind InvalidInput, when |path| holds a zero byte.
Status reject_nul_byte(std::string_view path);

// |name| alone when it begins with "/"; otherwise |base|, one "/" when base
// is non-empty and does not end in "/", then |name|.
std::string join_path(std::string_view base, std::string_view name);

// The last component when it is an ordinary name; nothing for "", "/", "."
// or a path ending in "..". Trailing "/" and "/." do not count.
std::optional<std::string> file_name(std::string_view path);

// The path before its last component, with separators and "." pieces
// removed from its end, never cutting into a leading "/" or "."; nothing
// for "" and "/".
std::optional<std::string> parent_path(std::string_view path);

}  // namespace diagpack
