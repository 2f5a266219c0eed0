#include "collection_run.hpp"

#include <functional>
#include <string>
#include <variant>

#include "cli/command_line.hpp"
#include "stages/archive.hpp"
#include "stages/output_dir.hpp"
#include "stages/stages.hpp"
#include "sys/console.hpp"  // open_missing_standard_streams
#include "sys/interrupt_watch.hpp"
#include "sys/remove_tree.hpp"

namespace diagpack {

namespace {

struct StageRow {
  std::function<Status()> run;
  std::string banner;
  std::string failure_prefix;  // the error's text follows
};

std::string key_of(const ComponentInfo& info) { return std::string(info.key); }

// Ends an interrupted run: what it made goes (the archive step has removed
// its own archive already), then the process ends by |signo| as if it had
// never been caught. The output directory goes with the same link-safe
// removal as after an archive.
[[noreturn]] void end_interrupted_run(const std::string& out_dir, int signo) {
  (void)remove_dir_all(out_dir);  // nothing more to do if this fails
  end_by_signal(signo);
}

}  // namespace

int create_diagpack(Component component, const Environment& env,
                    const Console& console) {
  if (auto status = parse_command_line(env, console)) return *status;

  const ComponentInfo info = component_info(component);
  // From here on SIGINT, SIGTERM and SIGHUP wait in |interrupts| and are
  // acted upon between the steps (and inside the waits that can be long):
  // the run then removes what it made and ends by the same signal.
  InterruptWatch interrupts;
  auto prepared = prepare_output_dir(info, env);
  if (auto* err = std::get_if<OutputPathError>(&prepared)) {
    console.err_line(err->display());
    return 1;
  }
  const std::string& out_dir = std::get<std::string>(prepared);
  const std::string key = key_of(info);
  if (auto signo = interrupts.take()) end_interrupted_run(out_dir, *signo);

  const StageRow stages[] = {
      {[&] { return collect_os_info(out_dir, info); }, "Collecting os info",
       "Failed to get os info, skipping. "},
      {[&] { return collect_config_files(out_dir, info); },
       "Collecting config files",
       "Failed to get " + key + " config files, skipping. "},
      {[&] { return collect_log_files(out_dir, info); }, "Collecting log files",
       "Failed to get " + key + " logs, skipping. "},
      {[&] { return collect_package_info(out_dir, info, interrupts.fd()); },
       "Collecting " + key + " info",
       "Failed to get " + key + " package details, skipping. "},
  };
  for (const StageRow& stage : stages) {
    console.out_line(stage.banner);
    Status status = stage.run();
    if (auto signo = interrupts.take()) end_interrupted_run(out_dir, *signo);
    if (!status) console.err_line(stage.failure_prefix + status.error().text());
  }

  archive_output_directory(out_dir, info, console, interrupts);
  if (auto signo = interrupts.take()) end_interrupted_run(out_dir, *signo);
  return 0;
}

void prepare_process() {
  open_missing_standard_streams();
  ignore_broken_pipes();
}

}  // namespace diagpack
