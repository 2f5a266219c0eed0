// The OS report (osInfo.txt) and the SystemSnapshot it is made from: the
// running kernel's release and the distribution's long OS version, read from
// uname and the release files under /etc. The package details stage takes a
// snapshot of its own to choose the package manager.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>  // std::move

#include "base/result.hpp"
#include "stages/run_context.hpp"

namespace diagpack {

// "Failed to retrieve kernel version": uname reported failure.
inline constexpr std::string_view kKernelVersionText =
    "Failed to retrieve kernel version";

// Where the release files are. The collection run uses the defaults; tests
// point them at files of their own.
struct ReleaseFiles {
  std::string os_release = "/etc/os-release";
  std::string lsb_release = "/etc/lsb-release";
  std::string system_release = "/etc/system-release";
};

// A view of the host, taken anew by each stage that needs one. Values are
// read from the host when asked for. With |interrupts|, a release file is
// read only until a stop signal is pending (the value is then left out);
// the caller sees the signal pending and stops.
class SystemSnapshot {
 public:
  explicit SystemSnapshot(ReleaseFiles files = {},
                          const InterruptWatch* interrupts = nullptr)
      : files_(std::move(files)), interrupts_(interrupts) {}

  // The kernel release as UTF-8 text (see kernel_release_text), or nothing
  // when uname fails.
  std::optional<std::string> kernel_version() const;

  // "Linux <version> <name>", the two parts from get_system_info_linux with
  // VERSION_ID= / DISTRIB_RELEASE= and NAME= / DISTRIB_ID=; a part that is
  // not found is empty, so this is "Linux  " at the least. Built in one
  // string, into which each value is read straight from its file.
  std::string long_os_version() const;

 private:
  // Appends the value of |main_key| in os-release, else that of
  // |fallback_key| in lsb-release, to |out|.
  void append_system_info(std::string& out, std::string_view main_key,
                          std::string_view fallback_key) const;

  ReleaseFiles files_;
  const InterruptWatch* interrupts_;
};

// The text of uname's release field: every non-NUL byte of the whole field,
// in order, read as Latin-1 and written as UTF-8.
std::string kernel_release_text(std::string_view field);

// Appends to |out| the value of the first line of |file| that begins with
// |key|; returns false, |out| unchanged, when the file cannot be opened or
// no line matches. Lines end at LF, one CR right before the LF is dropped,
// and a last line without LF counts as it is. Lines that are not valid
// UTF-8 are skipped. The key must start at the line's first byte; the value
// is the rest with every '"' removed. A read error, or a stop signal
// pending on |interrupts|, ends the search as if nothing had matched.
bool append_release_value(std::string& out, const std::string& file,
                          std::string_view key,
                          const InterruptWatch* interrupts = nullptr);

// |main_key| in os-release, else |fallback_key| in lsb-release. A value found
// in os-release wins even when it is empty. Never fails.
std::optional<std::string> get_system_info_linux(
    std::string_view main_key, std::string_view fallback_key,
    const ReleaseFiles& files = {});

// Writes <out_dir>/osInfo.txt from a snapshot taken over |files|:
// "Platform: linux-<kernel>\n", "Version: <long os version>\n" and, when
// system-release opens, "System Release: <its whole content>\n". The parts
// are written as they are, gathered by one writev, never joined into a
// copy. Nothing is written when a part cannot be had: kKernelVersionText
// when uname fails; the read error of system-release; kStreamNotUtf8Text
// when its content is not UTF-8; Error::interrupted() when a stop signal is
// pending on |interrupts|. A system-release that cannot be opened, for
// whatever reason, only leaves out the third line. Then the write's error.
Status write_os_report(const std::string& out_dir, const ReleaseFiles& files,
                       const InterruptWatch* interrupts = nullptr);

// The stage: write_os_report from the host's release files. The report is
// the same for every component.
Status collect_os_info(const RunContext& run);

}  // namespace diagpack
