// The running kernel's release, as uname(2) reports it.
#pragma once

#include <optional>
#include <string>

namespace diagpack {

// The whole release field of uname(2), trailing zero bytes included, or
// nothing when the call fails.
std::optional<std::string> kernel_release_field();

}  // namespace diagpack
