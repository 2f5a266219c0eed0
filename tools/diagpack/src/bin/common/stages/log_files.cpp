#include "stages/log_files.hpp"

#include <errno.h>     // EACCES
#include <sys/stat.h>  // S_ISDIR

#include "base/path_ops.hpp"
#include "base/utf8.hpp"           // utf8_lossy
#include "config/config_file.hpp"  // read_log_location
#include "stages/long_phase.hpp"
#include "sys/copy_file.hpp"
#include "sys/directories.hpp"  // open_dir
#include "sys/files.hpp"  // status_following_links, open_entry_for_reading

namespace diagpack {

namespace {

bool is_directory(const std::string& path) {
  auto st = status_following_links(path);
  return st && S_ISDIR(st->st_mode);
}

// Opens a matched entry for its copy. The log directory often belongs to
// the service account, which may plant links there (jce.log.1 ->
// /etc/shadow, a host key, a PIN file) for a root run to carry into the
// archive. So a link is followed only when root owns it or when it belongs
// to the owner of the file it reaches, the rule the kernel applies to links
// in sticky world-writable directories: whoever made the link could read
// that file anyway. Otherwise the entry fails as an unreadable one does,
// with EACCES. The owners are those of the link and of the file actually
// opened, and the copy reads that same descriptor.
Result<OpenFile> open_log_file(const std::string& path) {
  auto entry = open_entry_for_reading(path);
  if (!entry) return entry.take_error();
  if (entry->link && entry->link->st_uid != 0 &&
      entry->link->st_uid != entry->file.status.st_uid)
    return Error::os(EACCES);
  return std::move(entry->file);
}

// The bytes of all |logs| as their status gives them now; one whose status
// cannot be read counts for nothing.
uint64_t total_size(const std::vector<std::string>& logs) {
  uint64_t total = 0;
  for (const std::string& path : logs) {
    auto st = status_following_links(path);
    if (st) total += static_cast<uint64_t>(st->st_size);
  }
  return total;
}

}  // namespace

Result<std::vector<std::string>> find_log_files(const std::string& log_dir,
                                                std::string_view log_name) {
  if (Status st = reject_nul_byte(log_dir); !st) return st.take_error();
  auto listing = open_dir(log_dir);
  if (!listing) return listing.take_error();
  std::vector<std::string> found;
  for (;;) {
    auto entry = listing->next();
    if (!entry) return entry.take_error();
    if (*entry == nullptr) break;
    std::string path = join_path(log_dir, (*entry)->d_name);
    if (is_directory(path)) continue;
    // A listed name is never "", "." or "..", so it always has a file name.
    std::string name = utf8_lossy(file_name(path).value_or(""));
    if (name.find(log_name) != std::string::npos)
      found.push_back(std::move(path));
  }
  return found;
}

Status collect_log_files(const RunContext& run) {
  auto location = read_log_location(config_path(run.info), &run.interrupts);
  if (!location) return location.take_error();
  auto log_dir = parent_path(*location);
  if (!log_dir)
    return Error::fixed(ErrorKind::InvalidInput,
                        std::string(kNoLogDirectoryText));
  auto log_name = file_name(*location);
  if (!log_name)
    return Error::fixed(ErrorKind::InvalidInput, std::string(kNoLogNameText));

  auto logs = find_log_files(*log_dir, *log_name);
  if (!logs) return logs.take_error();
  // The total is only for the status line: without one, no file is asked.
  LongPhase phase(run, StatusPhase::copying_logs(
                           run.status.active() ? total_size(*logs) : 0));
  for (const std::string& path : *logs) {
    auto source = open_log_file(path);
    if (!source) return source.take_error();
    auto copied = copy_open_file(
        *source, join_path(run.out_dir, file_name(path).value_or("")), phase);
    if (!copied) return copied.take_error();
  }
  return {};
}

}  // namespace diagpack
