#include "stages/config_copy.hpp"

#include "base/path_ops.hpp"
#include "sys/copy_file.hpp"

namespace diagpack {

Status collect_config_files(const RunContext& run) {
  const std::string source = config_path(run.info);
  // Every configuration path of the component table ends in a file name.
  const std::string dest =
      join_path(run.out_dir, file_name(source).value_or(""));
  auto copied = copy_file(source, dest);
  if (!copied) return copied.take_error();
  return {};
}

}  // namespace diagpack
