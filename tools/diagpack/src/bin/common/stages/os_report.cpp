#include "stages/os_report.hpp"

#include <sys/stat.h>  // S_IS*

#include "base/path_ops.hpp"  // join_path
#include "base/utf8.hpp"      // is_valid_utf8, latin1_to_utf8
#include "sys/files.hpp"  // open_for_reading, read_some, read_text_to_end, write_file
#include "sys/host.hpp"  // kernel_release_field

namespace diagpack {

namespace {

constexpr std::string_view kReportName = "osInfo.txt";

// The value of |line| for |key|, or nothing when it does not match. A line
// that is not UTF-8 never matches: it is passed over like any other.
std::optional<std::string> match_line(std::string_view line,
                                      std::string_view key) {
  if (line.substr(0, key.size()) != key || !is_valid_utf8(line))
    return std::nullopt;
  std::string value;
  for (char c : line.substr(key.size()))
    if (c != '"') value += c;
  return value;
}

// Opens a release file for reading. A device there (a link to /dev/zero,
// say) would never reach its end, so it counts as a file that cannot be
// opened; a FIFO opens without waiting and reads as empty, a directory
// fails at its first read.
std::optional<UniqueFd> open_release_file(const std::string& path) {
  auto file = open_for_reading(path);
  if (!file) return std::nullopt;
  const mode_t mode = file->status.st_mode;
  if (S_ISCHR(mode) || S_ISBLK(mode) || S_ISSOCK(mode)) return std::nullopt;
  return std::move(file->fd);
}

}  // namespace

std::string kernel_release_text(std::string_view field) {
  std::string taken;
  for (char c : field)
    if (c != '\0') taken += c;
  return latin1_to_utf8(taken);
}

std::optional<std::string> SystemSnapshot::kernel_version() const {
  auto field = kernel_release_field();
  if (!field) return std::nullopt;
  return kernel_release_text(*field);
}

std::string SystemSnapshot::long_os_version() const {
  std::string version =
      get_system_info_linux("VERSION_ID=", "DISTRIB_RELEASE=", files_)
          .value_or("");
  std::string name =
      get_system_info_linux("NAME=", "DISTRIB_ID=", files_).value_or("");
  return "Linux " + version + " " + name;
}

// The file is read in chunks and cut into lines as they complete, so the
// search stops at the first match and a read error ends it where it stands
// (a directory opens but never reads: one EISDIR, then no match).
std::optional<std::string> find_release_value(const std::string& file,
                                              std::string_view key) {
  auto fd = open_release_file(file);
  if (!fd) return std::nullopt;
  std::string pending;  // bytes read but not yet cut into a whole line
  char buf[4096];
  for (;;) {
    auto n = read_some(fd->get(), buf, sizeof buf);
    if (!n) return std::nullopt;
    if (*n == 0) break;
    pending.append(buf, *n);
    size_t start = 0;
    for (size_t lf; (lf = pending.find('\n', start)) != std::string::npos;
         start = lf + 1) {
      std::string_view line(pending.data() + start, lf - start);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (auto value = match_line(line, key)) return value;
    }
    pending.erase(0, start);
  }
  // The last line without a line feed keeps any carriage return it ends in.
  return match_line(pending, key);
}

std::optional<std::string> get_system_info_linux(std::string_view main_key,
                                                 std::string_view fallback_key,
                                                 const ReleaseFiles& files) {
  if (auto value = find_release_value(files.os_release, main_key)) return value;
  return find_release_value(files.lsb_release, fallback_key);
}

Result<std::string> os_report_text(const ReleaseFiles& files) {
  SystemSnapshot snapshot(files);
  auto kernel = snapshot.kernel_version();
  if (!kernel)
    return Error::fixed(ErrorKind::NotFound, std::string(kKernelVersionText));
  std::string text = "Platform: linux-" + *kernel + "\n";
  text += "Version: " + snapshot.long_os_version() + "\n";

  auto fd = open_release_file(files.system_release);
  if (!fd) return text;  // missing, unreadable, dangling or a device
  auto content = read_text_to_end(fd->get());
  if (!content) return content.take_error();
  text += "System Release: " + *content + "\n";
  return text;
}

Status write_os_report(const std::string& out_dir, const ReleaseFiles& files) {
  auto text = os_report_text(files);
  if (!text) return text.take_error();
  return write_file(join_path(out_dir, kReportName), *text);
}

Status collect_os_info(const RunContext& run) {
  return write_os_report(run.out_dir, ReleaseFiles{});
}

}  // namespace diagpack
