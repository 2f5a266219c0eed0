// Whether a text written to a stream is styled with terminal colours.
#pragma once

#include "base/environment.hpp"

namespace diagpack {

// The decision for one text going to |fd|, by the first rule that applies:
// NO_COLOR set and not empty: off; CLICOLOR_FORCE set and not empty: on;
// CLICOLOR exactly "0": off; |fd| not a terminal: off; TERM set (even
// empty) and not "dumb": on; CLICOLOR set: on; CI set: on; otherwise off.
bool colour_wanted_for_fd(const Environment& env, int fd);

// The same rules with the terminal question already answered.
bool colour_wanted_for_terminal(const Environment& env, bool is_terminal);

}  // namespace diagpack
