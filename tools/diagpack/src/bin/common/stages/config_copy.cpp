#include "stages/config_copy.hpp"

#include "base/path_ops.hpp"
#include "stages/long_phase.hpp"
#include "sys/copy_file.hpp"

namespace diagpack {

Status collect_config_files(const RunContext& run) {
  const std::string source = config_path(run.info);
  // Every configuration path of the component table ends in a file name.
  const std::string dest =
      join_path(run.out_dir, file_name(source).value_or(""));
  // A configuration of gigabytes is copied in pieces too, so Ctrl-C stops
  // it, but it shows no status line.
  LongPhase phase(run, StatusPhase::silent());
  auto copied = copy_file(source, dest, phase);
  if (!copied) return copied.take_error();
  return {};
}

}  // namespace diagpack
