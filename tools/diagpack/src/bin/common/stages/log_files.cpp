// The log file collection stage: read the log location from the installed
// configuration file, list its directory, copy the matches.

#include "stages/log_files.hpp"

#include <errno.h>
#include <fcntl.h>     // open flags
#include <sys/stat.h>  // fstat, stat

#include "base/path_ops.hpp"
#include "base/utf8.hpp"
#include "config/json_reader.hpp"
#include "stages/stages.hpp"
#include "sys/copy_file.hpp"
#include "sys/dir_stream.hpp"
#include "sys/fd_io.hpp"
#include "sys/unique_fd.hpp"

namespace diagpack {

namespace {

// The whole file at |path| as text. Opened non-blocking so that a FIFO
// without a writer reads as empty instead of waiting for one.
Result<std::string> read_text_file(const std::string& path) {
  auto fd = open_for_reading(path);
  if (!fd) return fd.take_error();
  struct stat st;
  size_t size_hint = 0;
  if (::fstat(fd->get(), &st) == 0 && st.st_size > 0)
    size_hint = static_cast<size_t>(st.st_size);
  auto text = read_to_end(fd->get(), size_hint);
  if (!text) return text;
  if (!is_valid_utf8(*text)) {
    return Error::fixed(ErrorKind::InvalidData,
                        std::string(kStreamNotUtf8Text));
  }
  return text;
}

bool is_directory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

Result<std::string> read_log_location(const std::string& config_path) {
  auto text = read_text_file(config_path);
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
  if (log_dir.find('\0') != std::string::npos) {
    return Error::fixed(ErrorKind::InvalidInput, std::string(kNulByteText));
  }
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
