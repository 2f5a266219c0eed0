#include "cli/colour_choice.hpp"

#include <gtest/gtest.h>
#include <pty.h>     // openpty
#include <unistd.h>  // pipe

#include <string>
#include <vector>

#include "sys/unique_fd.hpp"

namespace diagpack {
namespace {

Environment env_with(std::vector<std::string> vars) {
  Environment env;
  env.vars = std::move(vars);
  return env;
}

TEST(ColourChoice, RulesInOrder) {
  struct Case {
    std::vector<std::string> vars;
    bool terminal;
    bool colour;
  };
  const Case cases[] = {
      {{}, false, false},
      {{}, true, false},  // a terminal without TERM, CLICOLOR or CI
      {{"TERM=xterm"}, true, true},
      {{"TERM=xterm"}, false, false},
      {{"TERM="}, true, true},  // empty TERM is still set
      {{"TERM=dumb"}, true, false},
      {{"TERM=dumb", "CLICOLOR=1"}, true, true},
      {{"TERM=dumb", "CLICOLOR="}, true, true},
      {{"TERM=dumb", "CI="}, true, true},
      {{"TERM=dumb", "CI=true"}, false, false},
      {{"TERM=xterm", "CLICOLOR=0"}, true, false},
      {{"CLICOLOR=0", "CLICOLOR_FORCE=1"}, false, true},
      {{"CLICOLOR_FORCE=1"}, false, true},
      {{"CLICOLOR_FORCE="}, false, false},
      {{"CLICOLOR_FORCE=0"}, false, true},  // any non-empty value forces
      {{"NO_COLOR=1", "CLICOLOR_FORCE=1"}, true, false},
      {{"NO_COLOR=", "CLICOLOR_FORCE=1"}, false, true},
      {{"NO_COLOR=", "TERM=xterm"}, true, true},
      {{"NO_COLOR=1", "TERM=xterm"}, true, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(colour_wanted_for_terminal(env_with(c.vars), c.terminal),
              c.colour)
        << testing::PrintToString(c.vars) << " terminal=" << c.terminal;
  }
}

TEST(ColourChoice, AsksTheDescriptorWhetherItIsATerminal) {
  int master = -1, slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  UniqueFd master_fd(master), slave_fd(slave);
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  UniqueFd read_end(ends[0]), write_end(ends[1]);

  const Environment term = env_with({"TERM=xterm-256color"});
  EXPECT_TRUE(colour_wanted_for_fd(term, slave_fd.get()));
  EXPECT_FALSE(colour_wanted_for_fd(term, write_end.get()));
  EXPECT_FALSE(
      colour_wanted_for_fd(term, -1));  // a closed descriptor is no terminal
  EXPECT_FALSE(colour_wanted_for_fd(env_with({"TERM=dumb"}), slave_fd.get()));
  EXPECT_FALSE(colour_wanted_for_fd(env_with({}), slave_fd.get()));
  EXPECT_TRUE(
      colour_wanted_for_fd(env_with({"TERM=dumb", "CI=1"}), slave_fd.get()));
}

}  // namespace
}  // namespace diagpack
