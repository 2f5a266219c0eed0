// One collection run for one component, start to finish.
#pragma once

#include "base/environment.hpp"
#include "stages/component.hpp"
#include "sys/console.hpp"

namespace diagpack {

// Runs the command line check, the output directory, the four stages and
// the archive step. Returns the process exit status: 0 after a run or
// help, 1 when the output directory cannot be prepared, 2 for a usage
// error.
int create_diagpack(Component component, const Environment& env,
                    const Console& console);

// Makes the process safe to run: descriptors 0, 1 and 2 that are closed are
// opened on /dev/null, and SIGPIPE is ignored so that writing to a pipe
// whose reader has gone fails with EPIPE instead of ending the process.
void prepare_process();

}  // namespace diagpack
