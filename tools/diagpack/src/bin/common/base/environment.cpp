#include "base/environment.hpp"

namespace diagpack {

std::optional<std::string_view> Environment::get(std::string_view name) const {
  for (const std::string& var : vars) {
    std::string_view v = var;
    if (v.size() > name.size() && v.substr(0, name.size()) == name &&
        v[name.size()] == '=')
      return v.substr(name.size() + 1);
  }
  return std::nullopt;
}

Environment Environment::of_process(int argc, char** argv, char** envp) {
  Environment env;
  for (int i = 0; i < argc; ++i) env.args.emplace_back(argv[i]);
  for (char** p = envp; p && *p; ++p) env.vars.emplace_back(*p);
  return env;
}

}  // namespace diagpack
