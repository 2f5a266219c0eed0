// The archive step: packs the output directory into <out dir>.tar.gz,
// prints where it is and removes the directory. Prints its own lines.
#pragma once

#include <string>

#include "stages/component.hpp"
#include "sys/console.hpp"

namespace diagpack {

void archive_output_directory(const std::string& out_dir,
                              const ComponentInfo& info,
                              const Console& console);

}  // namespace diagpack
