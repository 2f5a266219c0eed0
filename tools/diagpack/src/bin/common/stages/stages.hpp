// The four collection stages. Each takes the output directory path and the
// component row, writes only inside the output directory, prints nothing,
// and returns success or one error for the driver to report.
#pragma once

#include <string>

#include "base/result.hpp"
#include "stages/component.hpp"

namespace diagpack {

// osInfo.txt: platform, long OS version, /etc/system-release.
Status collect_os_info(const std::string& out_dir, const ComponentInfo& info);

// A copy of the component's configuration file.
Status collect_config_files(const std::string& out_dir,
                            const ComponentInfo& info);

// Copies of the log files that the configuration file points at.
Status collect_log_files(const std::string& out_dir, const ComponentInfo& info);

// <key>PackageInfo.txt from dpkg-query or rpm. The wait for the program
// ends early, with an error of kind Interrupted, when |wake_fd| (if not -1)
// turns readable.
Status collect_package_info(const std::string& out_dir,
                            const ComponentInfo& info, int wake_fd = -1);

}  // namespace diagpack
