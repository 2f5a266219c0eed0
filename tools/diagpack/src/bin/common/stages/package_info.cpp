#include "stages/package_info.hpp"

#include "base/path_ops.hpp"  // join_path
#include "base/utf8.hpp"      // Utf8Checker, utf8_fault_text
#include "stages/long_phase.hpp"
#include "stages/os_report.hpp"   // SystemSnapshot
#include "sys/child_process.hpp"  // run_child, exited_zero
#include "sys/files.hpp"          // write_file

namespace diagpack {

namespace {

constexpr std::string_view kReportSuffix = "PackageInfo.txt";

}  // namespace

PackageQuery choose_package_query(std::string_view long_os_version,
                                  std::string_view package_name) {
  std::string package(package_name);
  if (long_os_version.find("Ubuntu") != std::string_view::npos ||
      long_os_version.find("Debian") != std::string_view::npos)
    return {{"dpkg-query", "-s", package}, true};
  return {{"rpm", "-qi", package}, false};
}

std::string package_report_path(const std::string& out_dir,
                                const ComponentInfo& info) {
  return join_path(out_dir, std::string(info.key) + std::string(kReportSuffix));
}

Status write_package_report(const std::string& report_path,
                            const PackageQuery& query,
                            std::string_view package_name,
                            const Environment& env, int wake_fd,
                            PieceObserver* ticks) {
  auto result = run_child(query.argv, env, wake_fd, ticks);
  if (!result) return result.take_error();
  if (query.check_status && !exited_zero(result->wait_status))
    return Error::fixed(ErrorKind::Other, std::string(kDpkgQueryFailedText) +
                                              std::string(package_name));
  // The output stays in its chunks: checked across their ends and written
  // by one writev, never joined into a copy.
  const std::vector<std::string_view> pieces = result->out.pieces();
  Utf8Checker checker;
  for (std::string_view piece : pieces) checker.feed(piece);
  if (auto fault = checker.finish())
    return Error::fixed(ErrorKind::Other, utf8_fault_text(*fault));
  return write_file(report_path, pieces);
}

std::string query_text(const PackageQuery& query) {
  std::string text;
  for (const std::string& word : query.argv)
    text += (text.empty() ? "" : " ") + word;
  return text;
}

Status collect_package_info(const RunContext& run) {
  const std::string report_path = package_report_path(run.out_dir, run.info);
  const std::string os_version =
      SystemSnapshot({}, &run.interrupts).long_os_version();
  if (run.interrupts.pending()) return Error::interrupted();
  const PackageQuery query =
      choose_package_query(os_version, run.info.package_name);
  LongPhase phase(run, StatusPhase::waiting_for(query_text(query)));
  // Without a status line the wait keeps sleeping until the child or a
  // signal wakes it.
  return write_package_report(report_path, query, run.info.package_name,
                              run.env, run.interrupts.fd(),
                              run.status.active() ? &phase : nullptr);
}

}  // namespace diagpack
