#include "collection_run.hpp"

#include <string>
#include <variant>

#include "cli/command_line.hpp"
#include "stages/archive.hpp"
#include "stages/output_dir.hpp"
#include "stages/stages.hpp"
#include "sys/console.hpp"  // open_missing_standard_streams

namespace diagpack {

namespace {

using StageFn = Status (*)(const std::string&, const ComponentInfo&);

struct StageRow {
  StageFn run;
  std::string banner;
  std::string failure_prefix;  // the error's text follows
};

std::string key_of(const ComponentInfo& info) { return std::string(info.key); }

}  // namespace

int create_diagpack(Component component, const Environment& env,
                    const Console& console) {
  if (auto status = parse_command_line(env, console)) return *status;

  const ComponentInfo info = component_info(component);
  auto prepared = prepare_output_dir(info, env);
  if (auto* err = std::get_if<OutputPathError>(&prepared)) {
    console.err_line(err->display());
    return 1;
  }
  const std::string& out_dir = std::get<std::string>(prepared);
  const std::string key = key_of(info);

  const StageRow stages[] = {
      {collect_os_info, "Collecting os info",
       "Failed to get os info, skipping. "},
      {collect_config_files, "Collecting config files",
       "Failed to get " + key + " config files, skipping. "},
      {collect_log_files, "Collecting log files",
       "Failed to get " + key + " logs, skipping. "},
      {collect_package_info, "Collecting " + key + " info",
       "Failed to get " + key + " package details, skipping. "},
  };
  for (const StageRow& stage : stages) {
    console.out_line(stage.banner);
    Status status = stage.run(out_dir, info);
    if (!status) console.err_line(stage.failure_prefix + status.error().text());
  }

  archive_output_directory(out_dir, info, console);
  return 0;
}

void prepare_process() {
  open_missing_standard_streams();
  ignore_broken_pipes();
}

}  // namespace diagpack
