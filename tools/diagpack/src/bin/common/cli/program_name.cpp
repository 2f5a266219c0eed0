#include "cli/program_name.hpp"

#include "base/path_ops.hpp"  // file_name
#include "base/utf8.hpp"      // is_valid_utf8

namespace diagpack {

std::string program_name(std::string_view argv0) {
  auto name = file_name(argv0);
  if (!name || !is_valid_utf8(*name)) return std::string(kCommandName);
  return *name;
}

std::string program_name(const std::vector<std::string>& args) {
  return args.empty() ? std::string(kCommandName) : program_name(args[0]);
}

}  // namespace diagpack
