// The log file collection stage. A component's configuration file names one
// log file ("logging" / "log_file"); every entry of that file's directory
// whose name contains that file's name is copied into the output directory,
// so rotated and dated siblings come along with the log itself.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/result.hpp"
#include "stages/run_context.hpp"

namespace diagpack {

inline constexpr std::string_view kNoLogDirectoryText =
    "Failed to read log file directory from config";
inline constexpr std::string_view kNoLogNameText =
    "Failed to read log file name from config";

// Reads the log location from the installed configuration file (never the
// copy), lists its directory and copies every match into the output
// directory in listing order. A matched symbolic link is followed only when
// root or the owner of the file it reaches owns it. Returns
// read_log_location's error, kNoLogDirectoryText or kNoLogNameText
// (InvalidInput) when the location has no directory or no final name,
// find_log_files' error, or the first failure of a copy: EACCES for a link
// that may not be followed, else the copy_file error (earlier copies stay,
// later matches are skipped); an error of kind Interrupted when a stop
// signal arrives during a copy. The status line shows the bytes copied of
// the matched logs' total.
Status collect_log_files(const RunContext& run);

// The paths (join_path of |log_dir| and the entry name) of the entries of
// |log_dir| that are not directories (links followed; an entry whose status
// cannot be read counts as not a directory) and whose name, read as UTF-8
// with U+FFFD for bad sequences, contains |log_name|. In listing order.
// Returns the OS error of opening or reading the listing, or kNulByteText
// (InvalidInput) when |log_dir| holds a zero byte.
Result<std::vector<std::string>> find_log_files(const std::string& log_dir,
                                                std::string_view log_name);

}  // namespace diagpack
