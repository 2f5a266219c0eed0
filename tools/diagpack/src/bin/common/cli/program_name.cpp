#include "cli/program_name.hpp"

#include "base/utf8.hpp"  // is_valid_utf8

namespace diagpack {

std::string program_name(std::string_view argv0) {
  std::string_view last;
  size_t pos = 0;
  while (pos <= argv0.size()) {
    size_t slash = argv0.find('/', pos);
    if (slash == std::string_view::npos) slash = argv0.size();
    const std::string_view component = argv0.substr(pos, slash - pos);
    if (!component.empty() && component != ".") last = component;
    pos = slash + 1;
  }
  if (last.empty() || last == ".." || !is_valid_utf8(last))
    return std::string(kCommandName);
  return std::string(last);
}

std::string program_name(const std::vector<std::string>& args) {
  return args.empty() ? std::string(kCommandName) : program_name(args[0]);
}

}  // namespace diagpack
