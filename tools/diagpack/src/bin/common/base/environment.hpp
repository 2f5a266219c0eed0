// What the process was started with: its arguments as raw bytes and its
// environment. Passed down explicitly so that nothing reads globals.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace diagpack {

struct Environment {
  std::vector<std::string> args;  // argv[0] first, raw bytes
  std::vector<std::string> vars;  // "NAME=value"

  // The value of |name|, or nothing when it is not set.
  std::optional<std::string_view> get(std::string_view name) const;

  static Environment of_process(int argc, char** argv, char** envp);
};

}  // namespace diagpack
