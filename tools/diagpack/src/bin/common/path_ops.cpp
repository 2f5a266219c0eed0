#include "path_ops.hpp"

namespace diagpack {

std::string join_path(std::string_view base, std::string_view name) {
  if (!name.empty() && name.front() == '/') return std::string(name);
  std::string out(base);
  if (!out.empty() && out.back() != '/') out += '/';
  out += name;
  return out;
}

std::optional<std::string> file_name(std::string_view) { return std::nullopt; }
std::optional<std::string> parent_path(std::string_view) { return std::nullopt; }

}  // namespace diagpack
