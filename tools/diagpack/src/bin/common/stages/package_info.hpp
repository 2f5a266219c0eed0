// The package details stage: asks the host's package manager about the
// component's package and saves its answer, byte for byte, as
// <key>PackageInfo.txt. Ubuntu and Debian hosts are asked with dpkg-query,
// whose exit status must be zero; every other host with rpm, whose status is
// ignored (Debian ships an rpm too, which knows nothing of dpkg's packages).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/environment.hpp"
#include "base/piece_observer.hpp"
#include "base/result.hpp"
#include "stages/component.hpp"
#include "stages/run_context.hpp"

namespace diagpack {

// Followed by the package name: dpkg-query ended with a non-zero status.
inline constexpr std::string_view kDpkgQueryFailedText =
    "dpkg-query failed for package: ";

// One package query: the command line and whether its status is examined.
struct PackageQuery {
  std::vector<std::string> argv;
  bool check_status = false;
};

// {"dpkg-query", "-s", package} with the status checked when
// |long_os_version| contains "Ubuntu" or "Debian" (case-sensitive), else
// {"rpm", "-qi", package} with the status ignored.
PackageQuery choose_package_query(std::string_view long_os_version,
                                  std::string_view package_name);

// <out_dir>/<key>PackageInfo.txt.
std::string package_report_path(const std::string& out_dir,
                                const ComponentInfo& info);

// Runs |query| (found through the PATH of |env|, which is also its
// environment) and writes its standard output to |report_path| in one go.
// Errors, with nothing written: the OS error of starting or waiting for the
// program; kDpkgQueryFailedText + |package_name| for a checked query that did
// not exit with 0; the utf8_fault_text of standard output that is not UTF-8.
// Then the error of the write, if any. Standard error is discarded. When
// |wake_fd| (an InterruptWatch's descriptor, or -1) turns readable while
// the program runs, it is stopped and the error is of kind Interrupted.
// |ticks| (if given) is told at least every ChildProcess::kTickMs while the
// program runs; an error it returns stops the program and is returned.
Status write_package_report(const std::string& report_path,
                            const PackageQuery& query,
                            std::string_view package_name,
                            const Environment& env, int wake_fd = -1,
                            PieceObserver* ticks = nullptr);

// The command line of |query| as the status line names it:
// "rpm -qi quorvane-jce".
std::string query_text(const PackageQuery& query);

// The stage: the query chosen from a SystemSnapshot of its own, its answer
// written to package_report_path. Stops early (kind Interrupted) when a stop
// signal arrives while the package manager runs, which the status line
// shows as waited for.
Status collect_package_info(const RunContext& run);

}  // namespace diagpack
