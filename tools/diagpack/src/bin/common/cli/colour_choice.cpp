#include "cli/colour_choice.hpp"

#include <unistd.h>  // isatty

namespace diagpack {

namespace {

bool set_non_empty(const Environment& env, std::string_view name) {
  auto value = env.get(name);
  return value && !value->empty();
}

}  // namespace

bool colour_wanted(const Environment& env, bool is_terminal) {
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

bool colour_wanted(const Environment& env, int fd) {
  // isatty only says yes or no; any failure (a closed descriptor included)
  // means "not a terminal".
  return colour_wanted(env, isatty(fd) == 1);
}

}  // namespace diagpack
