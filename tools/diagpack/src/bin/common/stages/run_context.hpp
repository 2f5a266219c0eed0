// The run context: what every step of a collection run is given, and the
// contract each step keeps. A step writes only inside the output directory
// (the archive step beside it), prints nothing, and returns success or one
// error; the driver prints its banner and its failure line. Where a step can
// wait or work for long, it looks at |interrupts| and stops early with an
// error of kind Interrupted when a stop signal is pending, leaving the
// signal for the driver to take.
#pragma once

#include <string>

#include "base/environment.hpp"
#include "stages/component.hpp"
#include "sys/signals.hpp"

namespace diagpack {

struct RunContext {
  const ComponentInfo& info;
  // The output directory path as UTF-8 text; every step joins its file
  // names onto it.
  const std::string& out_dir;
  // The process's environment (PATH for the package manager).
  const Environment& env;
  const InterruptWatch& interrupts;
};

}  // namespace diagpack
