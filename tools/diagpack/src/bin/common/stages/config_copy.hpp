// The configuration file copy stage: the component's installed
// configuration file, byte for byte, into the output directory.
#pragma once

#include "base/result.hpp"
#include "stages/run_context.hpp"

namespace diagpack {

// Copies /opt/quorvane/etc/<config file name> to <out dir>/<config file
// name> with copy_file. Returns copy_file's error unchanged, or an error of
// kind Interrupted when a stop signal arrives during the copy.
Status collect_config_files(const RunContext& run);

}  // namespace diagpack
