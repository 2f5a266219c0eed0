// The configuration file copy stage: the component's installed
// configuration file, byte for byte, into the output directory.

#include "base/path_ops.hpp"
#include "stages/stages.hpp"
#include "sys/copy_file.hpp"

namespace diagpack {

Status collect_config_files(const std::string& out_dir,
                            const ComponentInfo& info) {
  const std::string source = config_path(info);
  // Every configuration path of the component table ends in a file name.
  const std::string dest = join_path(out_dir, file_name(source).value_or(""));
  auto copied = copy_file(source, dest);
  if (!copied) return copied.take_error();
  return {};
}

}  // namespace diagpack
