#include "cli/colour_choice.hpp"

#include "sys/console.hpp"  // is_terminal

namespace diagpack {

namespace {

bool set_non_empty(const Environment& env, std::string_view name) {
  auto value = env.get(name);
  return value && !value->empty();
}

}  // namespace

bool colour_wanted_for_terminal(const Environment& env, bool is_terminal) {
  if (set_non_empty(env, "NO_COLOR")) return false;
  if (set_non_empty(env, "CLICOLOR_FORCE")) return true;
  const auto clicolor = env.get("CLICOLOR");
  if (clicolor && *clicolor == "0") return false;
  if (!is_terminal) return false;
  const auto term = env.get("TERM");
  if (term && *term != "dumb") return true;
  if (clicolor) return true;
  return env.get("CI").has_value();
}

bool colour_wanted_for_fd(const Environment& env, int fd) {
  return colour_wanted_for_terminal(env, is_terminal(fd));
}

}  // namespace diagpack
