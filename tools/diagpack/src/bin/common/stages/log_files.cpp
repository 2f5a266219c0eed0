// The log file collection stage: read the log location from the installed
// configuration file, list its directory, copy the matches.

#include "stages/log_files.hpp"

#include <fcntl.h>     // open flags
#include <sys/stat.h>  // S_IS*

#include "base/path_ops.hpp"
#include "base/utf8.hpp"  // utf8_lossy
#include "config/json_reader.hpp"
#include "stages/stages.hpp"
#include "sys/copy_file.hpp"
#include "sys/dir_stream.hpp"
#include "sys/fd_io.hpp"        // read_text_to_end
#include "sys/file_status.hpp"  // status_of_fd, status_following_links
#include "sys/unique_fd.hpp"

namespace diagpack {

namespace {

// The configuration file as text, read whole into a buffer pre-sized from
// its length. It is opened non-blocking and judged by the status of the
// open file, so that neither a FIFO nor a device (a link to /dev/zero would
// never end) is read: anything but a regular file or a directory gets the
// copy's not-a-regular-file text. A directory is read as a file is, which
// fails with EISDIR.
Result<std::string> read_config_text(const std::string& path) {
  auto fd = open_fd(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
  if (!fd) return fd.take_error();
  auto st = status_of_fd(fd->get());
  if (!st) return st.take_error();
  if (!S_ISREG(st->st_mode) && !S_ISDIR(st->st_mode)) {
    return Error::fixed(ErrorKind::InvalidInput,
                        std::string(kNotRegularFileText));
  }
  const size_t size_hint =
      st->st_size > 0 ? static_cast<size_t>(st->st_size) : 0;
  return read_text_to_end(fd->get(), size_hint);
}

bool is_directory(const std::string& path) {
  auto st = status_following_links(path);
  return st && S_ISDIR(st->st_mode);
}

}  // namespace

Result<std::string> read_log_location(const std::string& config_path) {
  auto text = read_config_text(config_path);
  if (!text) return text.take_error();
  auto doc = parse_json(*text);
  if (!doc) return doc.take_error();
  const JsonValue& location = doc->member("logging").member("log_file");
  if (!location.is_string()) {
    return Error::fixed(ErrorKind::InvalidInput,
                        std::string(kNoLogLocationText));
  }
  return location.as_string();
}

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

Status collect_log_files(const std::string& out_dir,
                         const ComponentInfo& info) {
  auto location = read_log_location(config_path(info));
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
  for (const std::string& path : *logs) {
    auto copied =
        copy_file(path, join_path(out_dir, file_name(path).value_or("")));
    if (!copied) return copied.take_error();
  }
  return {};
}

}  // namespace diagpack
