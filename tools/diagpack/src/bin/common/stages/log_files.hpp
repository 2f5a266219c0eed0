// The log file collection stage. A component's configuration file names one
// log file ("logging" / "log_file"); every entry of that file's directory
// whose name contains that file's name is copied into the output directory,
// so rotated and dated siblings come along with the log itself.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/result.hpp"

namespace diagpack {

inline constexpr std::string_view kNoLogLocationText =
    "Failed to read log location from config";
inline constexpr std::string_view kNoLogDirectoryText =
    "Failed to read log file directory from config";
inline constexpr std::string_view kNoLogNameText =
    "Failed to read log file name from config";

// The string at "logging" / "log_file" of the JSON configuration file at
// |config_path|. Returns the OS error of opening or reading the file (EISDIR
// for a directory), kNotRegularFileText (InvalidInput) for a FIFO, a device
// or anything else that is not a regular file, kStreamNotUtf8Text
// (InvalidData) for text that is not UTF-8, the JSON
// reader's error, or kNoLogLocationText (InvalidInput) when that member is
// missing or not a string.
Result<std::string> read_log_location(const std::string& config_path);

// The paths (join_path of |log_dir| and the entry name) of the entries of
// |log_dir| that are not directories (links followed; an entry whose status
// cannot be read counts as not a directory) and whose name, read as UTF-8
// with U+FFFD for bad sequences, contains |log_name|. In listing order.
// Returns the OS error of opening or reading the listing, or kNulByteText
// (InvalidInput) when |log_dir| holds a zero byte.
Result<std::vector<std::string>> find_log_files(const std::string& log_dir,
                                                std::string_view log_name);

}  // namespace diagpack
