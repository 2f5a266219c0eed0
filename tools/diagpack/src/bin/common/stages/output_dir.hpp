// The output directory: a fresh directory <temp dir>/<output dir name> in
// which the stages collect their files. It is the one step whose failure
// ends the run: without a fresh directory nothing is collected.
#pragma once

#include <string>
#include <variant>

#include "base/environment.hpp"
#include "stages/component.hpp"

namespace diagpack {

struct OutputPathError {
  enum class Variant { AlreadyExists, CreateFailed, Conversion };
  Variant variant = Variant::Conversion;
  std::string path;  // raw bytes; shown with U+FFFD for invalid UTF-8
  int os_code = 0;   // CreateFailed only

  // "Output directory /tmp/jce-data already exists." and its siblings.
  std::string display() const;
};

// TMPDIR when set (an empty value included), else "/tmp".
std::string temp_dir(const Environment& env);

// Creates the output directory, mode 0755 before the umask (never group- or
// world-writable). Returns its path as UTF-8 text, or the
// error: AlreadyExists when anything answers a status query at the path
// (links followed), CreateFailed with the mkdir error, Conversion when the
// path is not UTF-8 (the directory just made is then removed again).
std::variant<std::string, OutputPathError> prepare_output_dir(
    const ComponentInfo& info, const Environment& env);

}  // namespace diagpack
