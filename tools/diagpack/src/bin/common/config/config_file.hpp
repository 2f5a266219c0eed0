// The component's configuration file as the log collection reads it: one
// JSON text, read whole, of which only "logging" / "log_file" is used.
#pragma once

#include <string>
#include <string_view>

#include "base/result.hpp"
#include "sys/signals.hpp"  // InterruptWatch

namespace diagpack {

// There is no string at "logging" / "log_file".
inline constexpr std::string_view kNoLogLocationText =
    "Failed to read log location from config";

// The whole file at |path| as UTF-8 text. Returns the OS error of opening or
// reading it (EISDIR for a directory), kNotRegularFileText (InvalidInput)
// for a FIFO, a device or anything else that is neither a regular file nor
// a directory, kStreamNotUtf8Text (InvalidData) for text that is not
// UTF-8, or Error::interrupted() when a stop signal is pending on
// |interrupts| while it is read.
Result<std::string> read_config_text(
    const std::string& path, const InterruptWatch* interrupts = nullptr);

// The string at "logging" / "log_file" of the configuration file at
// |config_path|, the whole text checked as JSON. Returns read_config_text's
// error, the JSON reader's error, or kNoLogLocationText (InvalidInput) when
// that member is missing or not a string.
Result<std::string> read_log_location(
    const std::string& config_path, const InterruptWatch* interrupts = nullptr);

}  // namespace diagpack
