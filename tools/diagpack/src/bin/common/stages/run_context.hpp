// The run context: what every step of a collection run is given, and the
// contract each step keeps. A step writes only inside the output directory
// (the archive step beside it), prints nothing, and returns success or one
// error; the driver prints its banner and its failure line. Where a step can
// wait or work for long, it does that work in pieces under a LongPhase,
// which stops it with an error of kind Interrupted when a stop signal is
// pending in |interrupts| (leaving the signal for the driver to take) and
// tells |status| how far the phase has come.
#pragma once

#include <string>

#include "base/environment.hpp"
#include "stages/component.hpp"
#include "stages/status_line.hpp"
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
  // The run's status line on standard error (never drawn when that is no
  // terminal); stages reach it through a LongPhase.
  StatusLine& status;
};

}  // namespace diagpack
