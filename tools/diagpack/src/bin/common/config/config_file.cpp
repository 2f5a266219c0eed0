#include "config/config_file.hpp"

#include <sys/stat.h>  // S_IS*

#include "config/json_reader.hpp"
#include "sys/files.hpp"  // open_for_reading, read_text_to_end

namespace diagpack {

// The text is read whole, once, into a buffer sized from the open file's
// status, and then only searched for the log location: no other value of
// the document is built, so the file costs its own size in memory and
// little more, however large it is.
//
// The file is opened without waiting and judged by the status of the open
// file, so that neither a FIFO nor a device (a link to /dev/zero would
// never end) is read: anything but a regular file or a directory gets the
// not-a-regular-file text. A directory is read as a file is, which fails
// with EISDIR.
Result<std::string> read_config_text(const std::string& path,
                                     const InterruptWatch* interrupts) {
  auto file = open_for_reading(path);
  if (!file) return file.take_error();
  const struct stat& st = file->status;
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
    return Error::fixed(ErrorKind::InvalidInput,
                        std::string(kNotRegularFileText));
  }
  const size_t size_hint = st.st_size > 0 ? static_cast<size_t>(st.st_size) : 0;
  return read_text_to_end(file->fd.get(), size_hint, interrupts);
}

Result<std::string> read_log_location(const std::string& config_path,
                                      const InterruptWatch* interrupts) {
  static constexpr std::string_view kLocationPath[] = {"logging", "log_file"};
  auto text = read_config_text(config_path, interrupts);
  if (!text) return text.take_error();
  auto location = find_json_string(*text, kLocationPath, interrupts);
  if (!location) return location.take_error();
  if (!*location) {
    return Error::fixed(ErrorKind::InvalidInput,
                        std::string(kNoLogLocationText));
  }
  return std::move(**location);
}

}  // namespace diagpack
