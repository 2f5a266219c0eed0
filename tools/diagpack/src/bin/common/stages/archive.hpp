// The archive step: packs the output directory into <out dir>.tar.gz,
// prints where it is and removes the directory. Prints its own lines.
#pragma once

#include <string>

#include "stages/component.hpp"
#include "sys/console.hpp"
#include "sys/interrupt_watch.hpp"

namespace diagpack {

enum class ArchiveOutcome {
  Finished,     // archived (or reported why not), lines printed
  Interrupted,  // a stop signal is pending: nothing printed, the archive
                // this step created removed, the output directory left
};

// The step. Its lines and failures are its own; it looks at |watch| while
// it writes and stops early when a stop signal is pending (the signal is
// left in the watch for the caller to take).
ArchiveOutcome archive_output_directory(const std::string& out_dir,
                                        const ComponentInfo& info,
                                        const Console& console,
                                        const InterruptWatch& watch);

}  // namespace diagpack
