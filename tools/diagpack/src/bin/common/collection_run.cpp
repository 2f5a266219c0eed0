#include "collection_run.hpp"

#include <errno.h>  // ENOMEM

#include <functional>
#include <new>  // std::bad_alloc
#include <string>
#include <string_view>
#include <variant>

#include "cli/command_line.hpp"
#include "stages/archive.hpp"
#include "stages/config_copy.hpp"
#include "stages/log_files.hpp"
#include "stages/os_report.hpp"
#include "stages/output_dir.hpp"
#include "stages/package_info.hpp"
#include "stages/run_context.hpp"
#include "stages/status_line.hpp"
#include "sys/console.hpp"      // open_missing_standard_streams
#include "sys/directories.hpp"  // remove_dir_all
#include "sys/signals.hpp"

namespace diagpack {

namespace {

constexpr std::string_view kArchivedText = "Logs and config can be found at ";
constexpr std::string_view kCleanupFailedText =
    "Failed to clean up directory, ";

// One step of the run as the driver sees it: its banner on standard output
// (the archive step has none), the step, the text that the error's display
// text follows on standard error, and what the driver does after success.
struct Step {
  std::string banner;
  Status (*run)(const RunContext&);
  std::string failure_prefix;
  std::function<void()> after_success;
};

// Runs one step. An allocation that fails inside it (a huge file somewhere,
// a memory limit) is that step's failure like any other, "Cannot allocate
// memory (os error 12)": everything the step held is released as the
// exception leaves it, and the run goes on. This is the one place where
// std::bad_alloc is caught on the run's thread; nothing throws past it.
Status run_step(const Step& step, const RunContext& run) {
  try {
    return step.run(run);
  } catch (const std::bad_alloc&) {
    return Error::os(ENOMEM);
  }
}

// Ends an interrupted run: what it made goes (the archive step has removed
// its own archive already), then the process ends by |signo| as if it had
// never been caught. The output directory goes with the same link-safe
// removal as after an archive.
[[noreturn]] void end_interrupted_run(const std::string& out_dir, int signo) {
  (void)remove_dir_all(out_dir);  // nothing more to do if this fails
  end_by_signal(signo);
}

// After a complete archive: where it is, then the output directory goes;
// a directory that cannot be removed completely is reported, and the
// archive stays either way.
void announce_archive(const Console& console, const std::string& out_dir) {
  console.out_line(std::string(kArchivedText) + archive_path(out_dir));
  if (!remove_dir_all(out_dir))
    console.err_line(std::string(kCleanupFailedText) + out_dir);
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
  if (auto signo = interrupts.take()) end_interrupted_run(out_dir, *signo);

  // The stages show their long phases here; each phase erases the line
  // when it ends, so it is gone before the driver prints again.
  StatusLine status(console, env);
  const RunContext run{info, out_dir, env, interrupts, status};
  const std::string key(info.key);
  const Step steps[] = {
      {"Collecting os info", collect_os_info,
       "Failed to get os info, skipping. ", nullptr},
      {"Collecting config files", collect_config_files,
       "Failed to get " + key + " config files, skipping. ", nullptr},
      {"Collecting log files", collect_log_files,
       "Failed to get " + key + " logs, skipping. ", nullptr},
      {"Collecting " + key + " info", collect_package_info,
       "Failed to get " + key + " package details, skipping. ", nullptr},
      {"", archive_output_directory,
       "Failed to archive output directory, " + out_dir + ", skipping. ",
       [&] { announce_archive(console, out_dir); }},
  };
  for (const Step& step : steps) {
    if (!step.banner.empty()) console.out_line(step.banner);
    Status status = run_step(step, run);
    if (auto signo = interrupts.take()) end_interrupted_run(out_dir, *signo);
    if (!status)
      console.err_line(step.failure_prefix + status.error().text());
    else if (step.after_success)
      step.after_success();
  }
  // A signal that came after the archive line ends the run by that signal;
  // the finished archive stays.
  if (auto signo = interrupts.take()) end_interrupted_run(out_dir, *signo);
  return 0;
}

void prepare_process() {
  open_missing_standard_streams();
  ignore_write_signals();
}

}  // namespace diagpack
